#pragma once

#include <QDialog>
#include <cstdint>
#include <string>

class QLineEdit;

// The printer-alias window: shows a printer's name and edits its alias. Modal, made for one rename.
class CPrnNameDlg : public QDialog {
    Q_OBJECT

public:
    CPrnNameDlg(const std::string& printerName, const std::string& alias, std::uint16_t language,
                QWidget* parent = nullptr);

    // The texts of the two boxes, as OK left them.
    std::string PrinterName() const { return printerName; }
    std::string Alias() const { return alias; }

    void accept() override;

private:
    QLineEdit* nameEdit;
    QLineEdit* aliasEdit;
    std::string printerName;
    std::string alias;
};
