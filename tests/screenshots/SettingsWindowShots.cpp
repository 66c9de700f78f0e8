// Pictures of the settings window (as shown, and refusing a bad port) and of the printer-alias
// window, in English and Italian, for scripts/screenshots.sh:
//     qopra-settings-shots [OUTPUT_FOLDER]        (default: build/screenshots)
// Runs on DISPLAY when there is one, else on the offscreen platform. The printers, addresses and
// hardware addresses are made up, so the pictures do not depend on the machine.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/CCommandLine.h"
#include "app/Housekeeping.h"
#include "config/AppSettings.h"
#include "config/gui/CPrnNameDlg.h"
#include "config/gui/CSettingsDlg.h"
#include "support/FakeElevation.h"

namespace {

struct Language {
    std::uint16_t id;
    const char* suffix;
};

bool Save(QWidget& window, const std::filesystem::path& file) {
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::printf("not shown: %s\n", file.c_str());
    }
    QApplication::processEvents();
    const bool saved = window.grab().save(QString::fromStdString(file.string()), "PNG");
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", file.c_str());
    return saved;
}

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
    services.endProcess = [] {};

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
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || display[0] == '\0') {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    const std::filesystem::path output =
        argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::path(QOPRA_BINARY_DIR) / "screenshots";
    std::filesystem::create_directories(output);
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    bool ok = true;
    for (const Language& language : {Language{2057, "en"}, Language{1040, "it"}}) {
        ok = ShootLanguage(language, output) && ok;
    }
    return ok ? 0 : 1;
}
