#include "config/gui/CSettingsDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <algorithm>

#include "app/CCommandLine.h"
#include "app/Housekeeping.h"
#include "app/IMessageBox.h"
#include "config/AppSettings.h"
#include "config/gui/CPrnNameDlg.h"
#include "config/gui/LocalizedText.h"
#include "platform/NetworkAdapters.h"
#include "platform/Unicode.h"
#include "print/Spooler.h"
#include "ui/Mnemonics.h"

namespace {

enum TextId : unsigned {
    kUdpPortText = 136,
    kUdpAddressText = 137,
    kTcpPortText = 138,
    kAutoStartText = 139,
    kBackupText = 140,
    kAvailablePrintersText = 141,
    kCaptionText = 143,
    kCancelText = 157,
    kOriginalNameText = 158,
    kPersonalNameText = 159,
    kPortRangeText = 192,
    kNotifyPrintedText = 215,
};

enum Column { kNameColumn = 0, kAliasColumn = 1 };

constexpr unsigned kHighestPort = 65535;

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

CSettingsDlg::Services CSettingsDlg::Services::Real() {
    return Services{ListLocalAddresses, AppSettings::GetMacForAddress, Spooler::GetDestinations};
}

CSettingsDlg::CSettingsDlg(AppSettings& settings, Housekeeping& housekeeping, StartupFlags& startupFlags,
                           IMessageBox& messages, Services services, QWidget* parent)
    : QDialog(parent), settings(settings), housekeeping(housekeeping), startupFlags(startupFlags),
      messages(messages), services(std::move(services)), addressBox(new QComboBox(this)),
      macLabel(new QLabel("MAC Address", this)), localPortEdit(new QLineEdit(this)),
      padPortEdit(new QLineEdit(this)), localPortError(new QLabel(this)), padPortError(new QLabel(this)),
      autoStartBox(new QCheckBox("Auto Startup", this)),
      backupBox(new QCheckBox("Backup printed document", this)),
      notifyBox(new QCheckBox("Notify each printed document", this)),
      printerList(new QTableWidget(0, 2, this)) {
    setObjectName("CSettingsDlg");
    addressBox->setObjectName("addressBox");
    macLabel->setObjectName("macLabel");
    localPortEdit->setObjectName("localPortEdit");
    padPortEdit->setObjectName("padPortEdit");
    localPortError->setObjectName("localPortError");
    padPortError->setObjectName("padPortError");
    autoStartBox->setObjectName("autoStartBox");
    backupBox->setObjectName("backupBox");
    notifyBox->setObjectName("notifyBox");
    printerList->setObjectName("printerList");

    // In the theme's own text colour, so that it reads on a dark theme too; bold sets it apart.
    for (QLabel* error : {localPortError, padPortError}) {
        QFont bold = error->font();
        bold.setBold(true);
        error->setFont(bold);
        error->setWordWrap(true);
        error->hide();
    }
    // The backup flag is carried through the window unchanged; renaming is a double click on a row.
    backupBox->hide();
    auto* renameButton = new QPushButton("Rename", this);
    renameButton->setObjectName("renameButton");
    renameButton->hide();

    printerList->setSelectionBehavior(QAbstractItemView::SelectRows);
    printerList->setSelectionMode(QAbstractItemView::SingleSelection);
    printerList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    printerList->setShowGrid(true);
    printerList->verticalHeader()->hide();
    printerList->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    printerList->setColumnWidth(kNameColumn, kColumnWidth);
    printerList->setColumnWidth(kAliasColumn, kColumnWidth);
    // Both columns beside a vertical scroll bar, so that no horizontal one takes a row's room.
    printerList->setMinimumWidth(2 * kColumnWidth + 2 * printerList->frameWidth() + 4 +
                                 printerList->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    printerList->setMinimumHeight(printerList->horizontalHeader()->sizeHint().height() +
                                  kVisiblePrinterRows * printerList->verticalHeader()->defaultSectionSize() +
                                  2 * printerList->frameWidth());

    auto* okButton = new QPushButton("OK", this);
    okButton->setObjectName("okButton");
    okButton->setDefault(true);
    auto* cancelButton = new QPushButton("Cancel", this);
    cancelButton->setObjectName("cancelButton");

    auto* addressLabel = new QLabel("UDP address", this);
    addressLabel->setObjectName("addressLabel");
    auto* localPortLabel = new QLabel("UDP port", this);
    localPortLabel->setObjectName("localPortLabel");
    auto* padPortLabel = new QLabel("TCP port", this);
    padPortLabel->setObjectName("padPortLabel");
    auto* printersLabel = new QLabel("Available printers", this);
    printersLabel->setObjectName("printersLabel");

    addressLabel->setBuddy(addressBox);
    localPortLabel->setBuddy(localPortEdit);
    padPortLabel->setBuddy(padPortEdit);
    printersLabel->setBuddy(printerList);

    auto* grid = new QGridLayout(this);
    // The window never gets smaller than its texts and the printer list's rows need.
    grid->setSizeConstraint(QLayout::SetMinimumSize);
    grid->addWidget(addressLabel, 0, 0);
    grid->addWidget(addressBox, 0, 1);
    grid->addWidget(macLabel, 0, 2);
    grid->addWidget(localPortLabel, 1, 0);
    grid->addWidget(localPortEdit, 1, 1);
    grid->addWidget(localPortError, 1, 2);
    grid->addWidget(padPortLabel, 2, 0);
    grid->addWidget(padPortEdit, 2, 1);
    grid->addWidget(padPortError, 2, 2);
    grid->addWidget(autoStartBox, 3, 0, 1, 3);
    grid->addWidget(backupBox, 4, 0, 1, 3);
    grid->addWidget(notifyBox, 5, 0, 1, 3);
    grid->addWidget(printersLabel, 6, 0, 1, 3);
    grid->addWidget(printerList, 7, 0, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(renameButton);
    buttons->addStretch();
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    grid->addLayout(buttons, 8, 0, 1, 3);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(7, 1);

    connect(okButton, &QPushButton::clicked, this, &CSettingsDlg::accept);
    connect(cancelButton, &QPushButton::clicked, this, &CSettingsDlg::reject);
    connect(renameButton, &QPushButton::clicked, this, &CSettingsDlg::OnRename);
    connect(printerList, &QTableWidget::cellDoubleClicked, this, &CSettingsDlg::OnRename);
    connect(addressBox, &QComboBox::activated, this, &CSettingsDlg::OnAddressPicked);

    SetTexts();
}

void CSettingsDlg::SetTexts() {
    const std::uint16_t language = settings.language;
    setWindowTitle(LocalizedText(kCaptionText, language, "Settings"));
    findChild<QLabel*>("addressLabel")->setText(LocalizedText(kUdpAddressText, language, "UDP address"));
    findChild<QLabel*>("localPortLabel")->setText(LocalizedText(kUdpPortText, language, "UDP port"));
    findChild<QLabel*>("padPortLabel")->setText(LocalizedText(kTcpPortText, language, "TCP port"));
    findChild<QLabel*>("printersLabel")
        ->setText(LocalizedText(kAvailablePrintersText, language, "Available printers"));
    autoStartBox->setText(LocalizedText(kAutoStartText, language, "Auto Startup"));
    backupBox->setText(LocalizedText(kBackupText, language, "Backup printed document"));
    notifyBox->setText(LocalizedText(kNotifyPrintedText, language, "Notify each printed document"));
    findChild<QPushButton*>("cancelButton")->setText(LocalizedText(kCancelText, language, "Cancel"));
    const QString portRange = LocalizedText(kPortRangeText, language, "Enter a port number from 1 to 65535");
    localPortError->setText(portRange);
    padPortError->setText(portRange);
    printerList->setHorizontalHeaderLabels({LocalizedText(kOriginalNameText, language, "Original name"),
                                            LocalizedText(kPersonalNameText, language, "Personal name")});
    // The labels name the boxes for screen readers too; the list has no label of its own beside it.
    printerList->setAccessibleName(findChild<QLabel*>("printersLabel")->text());
    addressBox->setAccessibleName(findChild<QLabel*>("addressLabel")->text());
    localPortEdit->setAccessibleName(findChild<QLabel*>("localPortLabel")->text());
    padPortEdit->setAccessibleName(findChild<QLabel*>("padPortLabel")->text());
    AssignMnemonics({findChild<QLabel*>("addressLabel"), findChild<QLabel*>("localPortLabel"),
                     findChild<QLabel*>("padPortLabel"), autoStartBox, notifyBox,
                     findChild<QLabel*>("printersLabel"), findChild<QPushButton*>("okButton"),
                     findChild<QPushButton*>("cancelButton")});
}

void CSettingsDlg::RefreshAndShow() {
    Refresh();
    show();
    raise();
    activateWindow();
}

void CSettingsDlg::Refresh() {
    localPortEdit->setText(Text(settings.local_port));
    padPortEdit->setText(Text(settings.pad_port));
    localPortError->hide();
    padPortError->hide();
    FillAddresses();
    macLabel->setText(Text(services.macForAddress(settings.local_address)));
    FillPrinters();
    backupBox->setChecked(settings.backup);
    notifyBox->setChecked(settings.notify_printed);
    RefreshAutoStart();
}

void CSettingsDlg::FillAddresses() {
    std::vector<std::string> entries = services.localAddresses();
    std::sort(entries.begin(), entries.end());
    addressBox->clear();
    for (const std::string& entry : entries) {
        addressBox->addItem(Text(entry));
    }
    addressBox->setCurrentIndex(ChooseAddress(entries, settings.local_address));
}

int CSettingsDlg::ChooseAddress(const std::vector<std::string>& entries, const std::string& address) {
    if (address.empty() || entries.empty()) {
        return -1;
    }
    const std::string wanted = AsciiLower(address);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (AsciiLower(entries[i]) == wanted) {
            return static_cast<int>(i);
        }
    }
    for (std::size_t step = 1; step <= entries.size(); ++step) {
        const std::size_t i = step % entries.size();
        if (AsciiLower(entries[i]).starts_with(wanted)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void CSettingsDlg::FillPrinters() {
    const std::vector<std::string> offered = settings.Printers();
    // When the spooler cannot be asked, the offered printers are shown, so that OK keeps them.
    const std::vector<std::string> rows = services.installedPrinters().value_or(offered);
    printerList->clearContents();
    printerList->setRowCount(static_cast<int>(rows.size()));
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        const std::string& name = rows[static_cast<std::size_t>(row)];
        const std::string alias = settings.GetAlias(name);
        auto* nameItem = new QTableWidgetItem(Text(name));
        nameItem->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        const bool ticked = std::find(offered.begin(), offered.end(), name) != offered.end();
        nameItem->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
        auto* aliasItem = new QTableWidgetItem(alias == name ? QString() : Text(alias));
        aliasItem->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        printerList->setItem(row, kNameColumn, nameItem);
        printerList->setItem(row, kAliasColumn, aliasItem);
    }
}

void CSettingsDlg::RefreshAutoStart() {
    // A copy started with administrator rights to apply the box shows it as the person left it, once.
    if (startupFlags.autostartCheck) {
        startupFlags.autostartCheck = false;
        autoStartBox->setChecked(startupFlags.checkState == 1);
    } else {
        autoStartBox->setChecked(housekeeping.CheckNewAutoStartup());
    }
    rememberedAutoStart = autoStartBox->isChecked();
}

void CSettingsDlg::OnAddressPicked(int index) {
    macLabel->setText(Text(services.macForAddress(addressBox->itemText(index).toStdString())));
}

void CSettingsDlg::OnRename() {
    printerList->setFocus();
    const QList<QTableWidgetItem*> selected = printerList->selectedItems();
    if (selected.isEmpty()) {
        return;
    }
    const int row = selected.front()->row();
    QTableWidgetItem* aliasItem = printerList->item(row, kAliasColumn);
    CPrnNameDlg rename(printerList->item(row, kNameColumn)->text().toStdString(),
                       aliasItem->text().toStdString(), settings.language, this);
    if (rename.exec() == QDialog::Accepted) {
        aliasItem->setText(Text(rename.Alias()));
        printerList->selectRow(row);
    }
}

std::optional<std::string> CSettingsDlg::PortText(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.size() > 5) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const QChar c : trimmed) {
        if (c < QChar('0') || c > QChar('9')) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c.unicode() - '0');
    }
    if (value < 1 || value > kHighestPort) {
        return std::nullopt;
    }
    return std::to_string(value);
}

void CSettingsDlg::accept() {
    const std::optional<std::string> localPort = PortText(localPortEdit->text());
    const std::optional<std::string> padPort = PortText(padPortEdit->text());
    localPortError->setVisible(!localPort);
    padPortError->setVisible(!padPort);
    if (!localPort || !padPort) {
        (localPort ? padPortEdit : localPortEdit)->setFocus();
        return;
    }

    const bool localPortChanged = *localPort != settings.local_port;
    const bool padPortChanged = *padPort != settings.pad_port;
    settings.local_port = *localPort;
    settings.pad_port = *padPort;
    // With no entry selected the address stays as it was.
    bool addressChanged = false;
    if (addressBox->currentIndex() >= 0) {
        const std::string address = addressBox->currentText().toStdString();
        addressChanged = address != settings.local_address;
        settings.local_address = address;
    }
    StorePrinters();
    settings.backup = backupBox->isChecked();
    settings.notify_printed = notifyBox->isChecked();
    settings.Save();

    if (localPortChanged || padPortChanged || addressChanged) {
        emit networkSettingsChanged(localPortChanged, padPortChanged, addressChanged);
    }
    ApplyAutoStart();
}

void CSettingsDlg::StorePrinters() {
    std::vector<std::string> ticked;
    std::vector<std::pair<std::string, std::string>> aliases;
    for (int row = 0; row < printerList->rowCount(); ++row) {
        const QTableWidgetItem* nameItem = printerList->item(row, kNameColumn);
        if (nameItem->checkState() != Qt::Checked) {
            continue;
        }
        const std::string name = nameItem->text().toStdString();
        aliases.emplace_back(name, printerList->item(row, kAliasColumn)->text().toStdString());
        ticked.push_back(name);
    }
    // Devices asking for the printer list meanwhile get the old one or the new one, whole.
    settings.SetPrintersAndAliases(std::move(ticked), aliases);
}

void CSettingsDlg::ApplyAutoStart() {
    // The entry is the user's own: no administrator rights, no restart, whatever the box was.
    if (autoStartBox->isChecked()) {
        housekeeping.SetNewAutoStartup();
    } else {
        housekeeping.RemoveNewAutoStartup();
    }
    QDialog::accept();
}
