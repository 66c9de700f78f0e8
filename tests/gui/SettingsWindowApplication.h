#pragma once

#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

#include "gui/SpoolerTestEnvironment.h"
#include "support/TempDir.h"

// Qt Widgets on the test command's X server (DISPLAY, an Xvfb), or on the offscreen platform when
// there is none, with a private HOME for the spooler library and the window settings.
namespace windowtest {

inline QApplication& Application() {
    static TempDir home;
    static spoolertest::ApplicationEnvironment* environment = [] {
        ::setenv("HOME", home.Path().c_str(), 1);
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || display[0] == '\0') {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        }
        // Windows with a web view: the browser engine runs as root only without its sandbox.
        ::setenv("QTWEBENGINE_CHROMIUM_FLAGS",
                 "--no-sandbox --disable-gpu --no-first-run --disable-background-networking "
                 "--disable-component-update",
                 1);
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        // The test framework owns its environments and tears them down when the tests are over.
        auto* added = new spoolertest::ApplicationEnvironment;
        testing::AddGlobalTestEnvironment(added);
        return added;
    }();
    static int argc = 1;
    static char name[] = "qopra-window-test";
    static char* argv[] = {name, nullptr};
    if (!environment->application) {
        environment->application = std::make_unique<QApplication>(argc, argv);
    }
    return *environment->application;
}

} // namespace windowtest
