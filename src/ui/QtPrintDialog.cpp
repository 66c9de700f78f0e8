#include "ui/QtPrintDialog.h"

#include <QPrintDialog>

#include "ui/ProgramIcons.h"

namespace {

// The print dialog without the page range and copies it shows again each time it is shown (the
// spooler can print page ranges, so the dialog offers them even when told not to).
class PrinterOnlyDialog : public QPrintDialog {
public:
    using QPrintDialog::QPrintDialog;

    void setVisible(bool visible) override {
        QPrintDialog::setVisible(visible);
        if (!visible) {
            return;
        }
        if (QWidget* range = findChild<QWidget*>(QtPrintDialog::kPageRangeGroup)) {
            range->hide();
        }
        if (QWidget* copies = findChild<QWidget*>(QtPrintDialog::kCopiesBox)) {
            (copies->parentWidget() != nullptr ? copies->parentWidget() : copies)->hide();
        }
    }
};

} // namespace

QtPrintDialog QtPrintDialog::ForDriveDocuments() {
    QtPrintDialog dialog(QAbstractPrintDialog::PrintShowPageSize);
    dialog.printerOnly = true;
    return dialog;
}

bool QtPrintDialog::Ask(QPrinter& printer, QWidget* parent) {
    std::unique_ptr<QPrintDialog> dialog = printerOnly ? std::make_unique<PrinterOnlyDialog>(&printer, parent)
                                                       : std::make_unique<QPrintDialog>(&printer, parent);
    if (options) {
        dialog->setOptions(*options);
    }
    dialog->setWindowIcon(ProgramIcons::Application());
    return dialog->exec() == QDialog::Accepted;
}
