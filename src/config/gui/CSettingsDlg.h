#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class AppSettings;
class Housekeeping;
class IMessageBox;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTableWidget;
struct StartupFlags;

// The settings window: ports, local address, the printers offered to devices and their aliases, and
// the program's automatic start. Made hidden once; each showing is preceded by a refresh from the
// settings, and OK stores what the window shows. Runs on the GUI thread.
class CSettingsDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kColumnWidth = 230;
    // Rows of the printer list shown without scrolling.
    static constexpr int kVisiblePrinterRows = 10;

    // What the window takes from the machine. The defaults are the real ones; tests give their own.
    struct Services {
        std::function<std::vector<std::string>()> localAddresses;
        std::function<std::string(const std::string&)> macForAddress;
        // The installed printers in the spooler's order; nothing when the spooler cannot be asked.
        std::function<std::optional<std::vector<std::string>>()> installedPrinters;

        static Services Real();
    };

    CSettingsDlg(AppSettings& settings, Housekeeping& housekeeping, StartupFlags& startupFlags,
                 IMessageBox& messages, Services services = Services::Real(), QWidget* parent = nullptr);

    // Fills the window from the settings.
    void Refresh();
    // What the main window's Settings command does: refresh, then show the window in front.
    void RefreshAndShow();

    // OK: stores the window's values, saves them and applies the auto-start box. A port that is not a
    // number from 1 to 65535 keeps the window open and stores nothing.
    void accept() override;

    // The entry of `entries` to select for `address`: the one equal to it (ASCII letter case ignored),
    // else the first that begins with it, searching from the second entry on and wrapping round;
    // -1 when none matches or the address is empty.
    static int ChooseAddress(const std::vector<std::string>& entries, const std::string& address);
    // The port number in `text` (blanks around it allowed), written plainly; nothing when it is not a
    // number from 1 to 65535.
    static std::optional<std::string> PortText(const QString& text);

signals:
    // OK changed the ports or the address: the network service must start again with the new values.
    void networkSettingsChanged(bool localPortChanged, bool padPortChanged, bool addressChanged);

private:
    void SetTexts();
    void FillAddresses();
    void FillPrinters();
    void RefreshAutoStart();
    void StorePrinters();
    void ApplyAutoStart();
    void OnAddressPicked(int index);
    void OnRename();

    AppSettings& settings;
    Housekeeping& housekeeping;
    StartupFlags& startupFlags;
    IMessageBox& messages;
    Services services;
    bool rememberedAutoStart = false;

    QComboBox* addressBox;
    QLabel* macLabel;
    QLineEdit* localPortEdit;
    QLineEdit* padPortEdit;
    QLabel* localPortError;
    QLabel* padPortError;
    QCheckBox* autoStartBox;
    QCheckBox* backupBox;
    QCheckBox* notifyBox;
    QTableWidget* printerList;
};
