#include "app/gui/QtConfirmBox.h"

#include <QMessageBox>

bool QtConfirmBox::Confirm(const std::string& text) {
    return QMessageBox::warning(nullptr, QString(), QString::fromStdString(text),
                                QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) == QMessageBox::Ok;
}
