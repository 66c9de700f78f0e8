#include "app/gui/CQopraApp.h"

#include <QApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <system_error>
#include <unistd.h>

#include "app/CCommandLine.h"
#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "app/SingleInstanceLock.h"
#include "app/StdoutTraceSink.h"
#include "ui/MainWindowController.h"

namespace {

constexpr const char* kLogFileName = "qopra.log";

// SIGTERM and SIGINT reach the main loop through this pipe: a signal handler may only write a byte.
int signalPipe[2] = {-1, -1};

void OnEndSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

bool InstallEndSignals() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    struct sigaction action {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0;
}

bool HasDisplay() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && x11[0] != '\0') || (wayland != nullptr && wayland[0] != '\0');
}

void PrepareQtEnvironment(bool headless) {
    if (headless) {
        // The hidden page still renders and prints without a display. A display that happens to be
        // there is left alone: through it the offscreen platform would load the GL stack for nothing
        // (some 60 MB of a service's memory).
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
    }
    std::string flags =
        "--disable-gpu --no-first-run --disable-background-networking --disable-component-update";
    if (::geteuid() == 0) {
        // The browser engine refuses to run as root inside its sandbox.
        flags += " --no-sandbox";
    }
    if (const char* extra = std::getenv("QTWEBENGINE_CHROMIUM_FLAGS")) {
        flags = std::string(extra) + " " + flags;
    }
    ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.c_str(), 1);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

} // namespace

int CQopraApp::Run(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    // A trace reader that goes away (qopra2 -headless | head) or a device that closes while we send
    // is an error to handle where it happens, not the end of the server.
    std::signal(SIGPIPE, SIG_IGN);

    // The options decide whether the single-instance check applies; their log lines are written once
    // the log has been reset, below.
    StartupFlags& flags = CCommandLine::Flags();
    CCommandLine::Parse(arguments, flags);
    // Help and version touch no file, so they are safe while another instance runs.
    if (flags.help) {
        std::fputs(CCommandLine::Usage(DataFolder::Locate(), DataFolder::InstalledDefaults()).c_str(),
                   stdout);
        return 0;
    }
    if (flags.version) {
        std::printf("qopra2 %s\n", QOPRA_VERSION);
        return 0;
    }
    for (const std::string& option : flags.unknownOptions) {
        std::fprintf(stderr, "qopra2: unknown option %s ignored (qopra2 --help lists the options)\n",
                     option.c_str());
    }

    const std::filesystem::path dataFolder = DataFolder::Locate();
    DataFolder::SetPath(DataFolder::Provision(dataFolder, DataFolder::InstalledDefaults())
                            ? dataFolder
                            : std::filesystem::path());

    // The lock comes before the log is reset, so a second start leaves the running instance's log alone.
    SingleInstanceLock instanceLock;
    if (!flags.forceAdmin && !instanceLock.Acquire()) {
        return 0;
    }

    if (!DataFolder::Path().empty()) {
        const std::filesystem::path logFile = DataFolder::Path() / kLogFileName;
        std::error_code ignored;
        std::filesystem::remove(logFile, ignored);
        EventLog::Global().SetFileName(logFile);
    }
    flags = StartupFlags{};
    CCommandLine::Parse(arguments, flags);

    const bool headless = flags.headless || !HasDisplay();
    PrepareQtEnvironment(headless);
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    std::unique_ptr<StdoutTraceSink> traceSink;
    if (headless) {
        traceSink = std::make_unique<StdoutTraceSink>();
    }

    std::unique_ptr<QSocketNotifier> endNotifier;
    if (InstallEndSignals()) {
        endNotifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(endNotifier.get(), &QSocketNotifier::activated, &application, [&application] {
            char drained[16];
            while (::read(signalPipe[0], drained, sizeof drained) > 0) {
            }
            EventLog::Write("-->CQopraDlg::WindowProc, received message WM_END_APPLICATION");
            application.quit();
        });
    }

    {
        MainWindowController controller(traceSink.get());
        controller.Initialise();
        QApplication::exec();
        controller.Shutdown();
    }
    return 0;
}
