#include "config/gui/CPrnNameDlg.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "config/gui/LocalizedText.h"
#include "ui/Mnemonics.h"

namespace {

constexpr unsigned kOriginalNameText = 158;
constexpr unsigned kPersonalNameText = 159;
constexpr unsigned kCaptionText = 160;
constexpr unsigned kCancelText = 157;
constexpr int kEditWidth = 260;

} // namespace

CPrnNameDlg::CPrnNameDlg(const std::string& printerName, const std::string& alias, std::uint16_t language,
                         QWidget* parent)
    : QDialog(parent), nameEdit(new QLineEdit(QString::fromStdString(printerName), this)),
      aliasEdit(new QLineEdit(QString::fromStdString(alias), this)), printerName(printerName), alias(alias) {
    setObjectName("CPrnNameDlg");
    setWindowTitle(LocalizedText(kCaptionText, language, "PrinterName"));
    setModal(true);

    nameEdit->setObjectName("printerNameEdit");
    nameEdit->setReadOnly(true);
    nameEdit->setMinimumWidth(kEditWidth);
    aliasEdit->setObjectName("aliasEdit");
    aliasEdit->setMinimumWidth(kEditWidth);

    auto* form = new QFormLayout;
    auto* nameLabel = new QLabel(LocalizedText(kOriginalNameText, language, "Real Name"), this);
    nameLabel->setObjectName("printerNameLabel");
    auto* aliasLabel = new QLabel(LocalizedText(kPersonalNameText, language, "Alias Name"), this);
    aliasLabel->setObjectName("aliasLabel");
    nameLabel->setBuddy(nameEdit);
    aliasLabel->setBuddy(aliasEdit);
    nameEdit->setAccessibleName(nameLabel->text());
    aliasEdit->setAccessibleName(aliasLabel->text());
    form->addRow(nameLabel, nameEdit);
    form->addRow(aliasLabel, aliasEdit);

    // OK before Cancel, as in the settings window.
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("okButton");
    ok->setDefault(true);
    auto* cancel = new QPushButton(LocalizedText(kCancelText, language, "Cancel"), this);
    cancel->setObjectName("cancelButton");
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    AssignMnemonics({nameLabel, aliasLabel, ok, cancel});
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    layout->addLayout(form);
    layout->addLayout(buttons);
    aliasEdit->setFocus();
    aliasEdit->selectAll();
}

void CPrnNameDlg::accept() {
    printerName = nameEdit->text().toStdString();
    alias = aliasEdit->text().toStdString();
    QDialog::accept();
}
