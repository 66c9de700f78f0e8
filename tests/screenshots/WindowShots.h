#pragma once

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>

// What every picture program of scripts/screenshots.sh shares: the languages, where the pictures go,
// the platform, and a window profile of its own so that saved placements of earlier runs play no part.
namespace windowshots {

struct Language {
    std::uint16_t id;
    const char* suffix;
};

inline constexpr Language kLanguages[] = {{2057, "en"}, {1040, "it"}};

// Shows the window and writes a picture of it.
inline bool Save(QWidget& window, const std::filesystem::path& file) {
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::printf("not shown: %s\n", file.c_str());
    }
    QApplication::processEvents();
    const bool saved = window.grab().save(QString::fromStdString(file.string()), "PNG");
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", file.c_str());
    return saved;
}

// Runs `shoot` for each language on DISPLAY when there is one, else on the offscreen platform, with the
// pictures in argv[1] (default: build/screenshots). The exit code of the program.
inline int Run(int argc, char** argv,
               const std::function<bool(const Language&, const std::filesystem::path&)>& shoot) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || display[0] == '\0') {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    const std::filesystem::path output =
        argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::path(QOPRA_BINARY_DIR) / "screenshots";
    std::filesystem::create_directories(output);
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QTemporaryDir profile;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, profile.path());
    bool ok = true;
    for (const Language& language : kLanguages) {
        ok = shoot(language, output) && ok;
    }
    return ok ? 0 : 1;
}

} // namespace windowshots
