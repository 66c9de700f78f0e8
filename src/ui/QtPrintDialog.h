#pragma once

#include <QAbstractPrintDialog>
#include <optional>

#include "ui/IPrintDialog.h"

// The print dialog of the desktop (which lists the spooler's printers).
class QtPrintDialog : public IPrintDialog {
public:
    // The dialog's own choice of options.
    QtPrintDialog() = default;
    // Only the parts named in `options` (none: the printer and its properties, all pages).
    explicit QtPrintDialog(QAbstractPrintDialog::PrintDialogOptions options) : options(options) {}

    bool Ask(QPrinter& printer, QWidget* parent) override;

private:
    std::optional<QAbstractPrintDialog::PrintDialogOptions> options;
};
