#include "app/gui/QtMessageBox.h"

#include <QMessageBox>

void QtMessageBox::Show(const std::string& text) {
    QMessageBox::warning(nullptr, "Qopra", QString::fromStdString(text));
}
