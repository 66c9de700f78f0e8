#include "app/gui/QtConfirmBox.h"

#include <QApplication>
#include <QMessageBox>

bool QtConfirmBox::Confirm(const std::string& text) {
    // The question comes before something that cannot be undone: Enter keeps what is there.
    return QMessageBox::warning(QApplication::activeWindow(), QString(), QString::fromStdString(text),
                                QMessageBox::Ok | QMessageBox::Cancel,
                                QMessageBox::Cancel) == QMessageBox::Ok;
}
