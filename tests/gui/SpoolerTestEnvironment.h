#pragma once

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <cstdlib>
#include <cups/cups.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>

#include "core/PrintTestFiles.h"
#include "print/Spooler.h"
#include "support/TempDir.h"

// Qt on the offscreen platform and the private scheduler of the test command (CUPS_SERVER, started by
// tests/rig/cups-rig.sh), shared by the tests that print through the hidden browser page.
namespace spoolertest {

inline bool HaveScheduler() {
    return std::getenv("CUPS_SERVER") != nullptr;
}

// The application ends when the tests are over, before the program's static objects: the browser
// engine shuts down while Qt is still whole, instead of during the exit of the process.
class ApplicationEnvironment : public testing::Environment {
public:
    void TearDown() override { application.reset(); }
    std::unique_ptr<QApplication> application;
};

// The spooler library reads HOME once per process, so the private one (where the per-user default
// destination lives) is set once, before the first spooler call; the browser engine runs as root
// only without its sandbox.
inline QApplication& Application() {
    static TempDir home;
    static const bool prepared = [] {
        ::setenv("HOME", home.Path().c_str(), 1);
        if (std::getenv("CUPS_SERVERROOT") == nullptr) {
            ::setenv("CUPS_SERVERROOT", home.Path().c_str(), 1);
        }
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("QTWEBENGINE_CHROMIUM_FLAGS",
                 "--no-sandbox --disable-gpu --no-first-run --disable-background-networking "
                 "--disable-component-update",
                 1);
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        return true;
    }();
    static int argc = 1;
    static char name[] = "qopra-gui-test";
    static char* argv[] = {name, nullptr};
    static ApplicationEnvironment* environment = [] {
        // The test framework owns its environments and tears them down when the tests are over.
        auto* added = new ApplicationEnvironment;
        testing::AddGlobalTestEnvironment(added);
        return added;
    }();
    if (!environment->application) {
        environment->application = std::make_unique<QApplication>(argc, argv);
    }
    (void)prepared;
    return *environment->application;
}

// Runs the real event loop (the browser engine is driven by it) until `done` holds or `limitMs` passed.
inline bool WaitFor(const std::function<bool()>& done, int limitMs) {
    constexpr int kPollMs = 10;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) {
            loop.quit();
        }
    });
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    poll.start(kPollMs);
    if (!done()) {
        loop.exec();
    }
    return done();
}

inline bool SetDefaultDestination(const std::string& queue) {
    return std::system(("lpoptions -d " + queue + " >/dev/null").c_str()) == 0;
}

// Where the spooler library keeps the user's own default destination.
inline std::filesystem::path UserOptionsFile() {
    if (::geteuid() == 0) {
        return std::filesystem::path(std::getenv("CUPS_SERVERROOT")) / "lpoptions";
    }
    return std::filesystem::path(std::getenv("HOME")) / ".cups" / "lpoptions";
}

inline std::string DefaultDestination() {
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, nullptr, nullptr);
    const std::string name = dest != nullptr ? dest->name : "";
    cupsFreeDests(dest != nullptr ? 1 : 0, dest);
    return name;
}

struct Jobs {
    int count = 0;
    int completed = 0;
    // Copies the jobs make together.
    int copies = 0;
};

// The jobs of `queue` named `title`, finished ones included.
inline Jobs JobsNamed(const std::string& queue, const std::string& title) {
    Jobs found;
    for (const Spooler::JobInfo& job : printtest::AllJobs(queue)) {
        if (job.name == title) {
            ++found.count;
            found.copies += job.copies;
            found.completed += job.state >= static_cast<int>(Spooler::JobState::Completed) ? 1 : 0;
        }
    }
    return found;
}

} // namespace spoolertest
