#pragma once

#include <QAbstractPrintDialog>
#include <optional>

#include "ui/IPrintDialog.h"

// The print dialog of the desktop (which lists the spooler's printers).
class QtPrintDialog : public IPrintDialog {
public:
    // The names the print dialog gives to the parts that a pen-drive print has no use for: the page
    // range group, and the copies box (whose group goes with it).
    static constexpr const char* kPageRangeGroup = "gbPrintRange";
    static constexpr const char* kCopiesBox = "copies";

    // The dialog's own choice of options.
    QtPrintDialog() = default;
    // Only the parts named in `options` (none: the printer and its properties, all pages).
    explicit QtPrintDialog(QAbstractPrintDialog::PrintDialogOptions options) : options(options) {}

    // For documents from pen drives: only the printer is chosen. Every page prints, each document with
    // the copies of its description, never into a file: the dialog offers nothing else.
    static QtPrintDialog ForDriveDocuments();

    bool Ask(QPrinter& printer, QWidget* parent) override;

private:
    std::optional<QAbstractPrintDialog::PrintDialogOptions> options;
    bool printerOnly = false;
};
