// Pictures of the settings window (as shown, and refusing a bad port) and of the printer-alias
// window, in English and Italian, for scripts/screenshots.sh:
//     qopra-settings-shots [OUTPUT_FOLDER]        (default: build/screenshots)
// Runs on DISPLAY when there is one, else on the offscreen platform. The printers, addresses and
// hardware addresses are made up, so the pictures do not depend on the machine.
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "app/CCommandLine.h"
#include "app/Housekeeping.h"
#include "config/AppSettings.h"
#include "config/gui/CPrnNameDlg.h"
#include "config/gui/CSettingsDlg.h"
#include "screenshots/WindowShots.h"
#include "support/FakeElevation.h"

namespace {

using windowshots::Language;
using windowshots::Save;

bool ShootLanguage(const Language& language, const std::filesystem::path& output) {
    AppSettings settings;
    settings.language = language.id;
    settings.local_address = "192.168.1.20";
    settings.SetPrinters({"Office-Laser", "Reception-Inkjet"});
    settings.SetAlias("Office-Laser", "Office");

    CSettingsDlg::Services services;
    services.localAddresses = [] { return std::vector<std::string>{"192.168.1.20", "10.0.0.5"}; };
    services.macForAddress = [](const std::string& address) {
        return address == "192.168.1.20" ? std::string("3C-52-82-1A-7F-00") : std::string();
    };
    services.installedPrinters = [] {
        return std::optional<std::vector<std::string>>(
            {"Office-Laser", "Reception-Inkjet", "Warehouse-Labels", "Photo-A4"});
    };

    InstallationPaths paths;
    paths.root = output / "no-root";
    FakeElevation elevation(0);
    RecordedMessages messages;
    Housekeeping housekeeping(paths, elevation, messages);
    StartupFlags flags;
    CSettingsDlg window(settings, housekeeping, flags, messages, services);
    window.RefreshAndShow();
    bool ok = Save(window, output / (std::string("settings-") + language.suffix + ".png"));

    auto* port = window.findChild<QLineEdit*>("localPortEdit");
    port->setText("70000");
    QTest::mouseClick(window.findChild<QPushButton*>("okButton"), Qt::LeftButton);
    ok = Save(window, output / (std::string("settings-bad-port-") + language.suffix + ".png")) && ok;

    CPrnNameDlg alias("Office-Laser", "Office", language.id);
    ok = Save(alias, output / (std::string("alias-") + language.suffix + ".png")) && ok;
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    return windowshots::Run(argc, argv, ShootLanguage);
}
