#include "ui/QtPrintDialog.h"

#include <QPrintDialog>

bool QtPrintDialog::Ask(QPrinter& printer, QWidget* parent) {
    QPrintDialog dialog(&printer, parent);
    if (options) {
        dialog.setOptions(*options);
    }
    return dialog.exec() == QDialog::Accepted;
}
