#pragma once

#include "ui/IPrintDialog.h"

// The print dialog of the desktop (which lists the spooler's printers).
class QtPrintDialog : public IPrintDialog {
public:
    bool Ask(QPrinter& printer, QWidget* parent) override;
};
