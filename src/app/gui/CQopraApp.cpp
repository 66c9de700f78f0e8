#include "app/gui/CQopraApp.h"

#include <QApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "app/CCommandLine.h"
#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "app/Housekeeping.h"
#include "app/InstallationPaths.h"
#include "app/LogMessageBox.h"
#include "app/PkexecElevation.h"
#include "app/SingleInstanceLock.h"
#include "app/StdoutTraceSink.h"
#include "app/gui/DisplayProbe.h"
#include "app/gui/QtConfirmBox.h"
#include "app/gui/QtMessageBox.h"
#include "app/gui/TraceWindowSink.h"
#include "ui/CQopraDlg.h"
#include "ui/CSystemTray.h"
#include "ui/DesktopNotifier.h"
#include "ui/MainWindowController.h"
#include "ui/ProgramIcons.h"
#include "ui/QtPrintDialog.h"

namespace {

constexpr const char* kLogFileName = "qopra.log";
constexpr mode_t kPrivateUmask = 077;

// SIGTERM and SIGINT (the end) and SIGUSR1 (a second start asks for the main window) reach the main
// loop through this pipe: a signal handler may only write a byte.
int signalPipe[2] = {-1, -1};
constexpr char kEndByte = 1;
constexpr char kRestoreByte = 2;

void OnSignal(int number) {
    const int saved = errno;
    const char byte = number == SIGUSR1 ? kRestoreByte : kEndByte;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

// Installed before the lock is taken: a second start may signal this process from then on.
bool InstallSignals() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::signal(SIGUSR1, SIG_IGN);
        return false;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGUSR1, &action, nullptr) == 0;
}

QtMessageHandler previousMessageHandler = nullptr;

// The browser engine describes its graphics set-up at length on its first page (some 25 lines), and
// says that it found no graphics backend for the GPU it was told not to use: not news for a journal.
// Every other message goes on as before.
void QuietStartMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const bool engineSetUp = type == QtInfoMsg && context.category != nullptr &&
                             std::strcmp(context.category, "qt.webenginecontext") == 0;
    if (engineSetUp || message.trimmed() == QLatin1String("No suitable graphics backend found")) {
        return;
    }
    if (previousMessageHandler != nullptr) {
        previousMessageHandler(type, context, message);
    }
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
    previousMessageHandler = qInstallMessageHandler(QuietStartMessages);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

// The elevated step of a standard user's start: no data folder, no lock, no window. What is left
// is told by the exit code; the user's own process shows it.
int RetireOldInstallation() {
    if (::geteuid() != 0) {
        std::fprintf(stderr, "qopra2: %s needs administrator rights\n", Housekeeping::kRetireOption);
        return 2;
    }
    LogMessageBox messages;
    PkexecElevation elevation;
    Housekeeping housekeeping(InstallationPaths::System(), elevation, messages);
    housekeeping.RetireOldInstallation();
    return housekeeping.OldInstallationLeft() ? 1 : 0;
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
    if (flags.retire) {
        return RetireOldInstallation();
    }
    const bool signalsInstalled = InstallSignals();
    // Whatever the program and its 7za make (folders, received archives, documents, kept copies, the
    // log) is its user's alone: other users of the computer have no business reading documents.
    ::umask(kPrivateUmask);

    const std::filesystem::path dataFolder = DataFolder::Locate();
    DataFolder::SetPath(DataFolder::Provision(dataFolder, DataFolder::InstalledDefaults())
                            ? dataFolder
                            : std::filesystem::path());

    // The lock comes before the log is reset, so a second start leaves the running instance's log
    // alone. On a desktop it asks the running instance to show its main window, as tray OPEN does:
    // without a tray host there would be no other way to it.
    SingleInstanceLock instanceLock;
    if (!flags.forceAdmin && instanceLock.Path().empty()) {
        std::fprintf(stderr, "qopra2: no folder of this user's own for the single-instance lock (another "
                             "user holds its name in /tmp); a second start is not prevented\n");
    }
    if (!flags.forceAdmin && !instanceLock.Acquire()) {
        if (!flags.headless) {
            instanceLock.SignalHolder(SIGUSR1);
        }
        return 0;
    }

    if (!DataFolder::Path().empty()) {
        const std::filesystem::path logFile = DataFolder::Path() / kLogFileName;
        std::error_code ignored;
        std::filesystem::remove(logFile, ignored);
        EventLog::Global().SetFileName(logFile);
        if (const std::size_t opened = DataFolder::MakePrivate(DataFolder::Path()); opened > 0) {
            EventLog::Write("[WARNING] The data folder %s was open to other users: %zu entries made private",
                            DataFolder::Path().c_str(), opened);
        }
    }
    flags = StartupFlags{};
    CCommandLine::Parse(arguments, flags);

    bool headless = flags.headless;
    if (!headless) {
        if (const std::string why = DisplayProbe::WhyNoDisplay(); !why.empty()) {
            std::fprintf(stderr, "qopra2: %s; running as the headless service (trace on standard output)\n",
                         why.c_str());
            headless = true;
        }
    }
    PrepareQtEnvironment(headless);
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName("qopra2");
    QApplication::setApplicationVersion(QOPRA_VERSION);
    // Every window says whose it is, as the menu entry names the program, and carries its icon.
    QApplication::setApplicationDisplayName("Qopra");
    QGuiApplication::setDesktopFileName("qopra2");
    QApplication::setWindowIcon(ProgramIcons::Application());

    // Set by the desktop program: what a second start's request does.
    std::function<void()> restore;
    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (signalsInstalled) {
        signalNotifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, &application, [&] {
            char received[16];
            ssize_t count = 0;
            bool end = false;
            bool show = false;
            while ((count = ::read(signalPipe[0], received, sizeof received)) > 0) {
                for (ssize_t i = 0; i < count; ++i) {
                    end = end || received[i] == kEndByte;
                    show = show || received[i] == kRestoreByte;
                }
            }
            if (end) {
                EventLog::Write("-->CQopraDlg::WindowProc, received message WM_END_APPLICATION");
                // Not quit(): that asks every window to close first, and the main window answers a
                // close by going back to the tray, so the program would not end.
                QApplication::exit(0);
            } else if (show && restore) {
                restore();
            }
        });
    }

    // The old installation is retired first (for a standard user only that step is elevated).
    QtMessageBox desktopMessages;
    LogMessageBox serviceMessages;
    IMessageBox& messages = headless ? static_cast<IMessageBox&>(serviceMessages) : desktopMessages;
    PkexecElevation elevation;
    Housekeeping housekeeping(InstallationPaths::System(), elevation, messages);
    housekeeping.RetireOldInstallation();

    if (headless) {
        StdoutTraceSink traceSink;
        MainWindowController controller(&traceSink);
        controller.Initialise();
        QApplication::exec();
        controller.Shutdown();
        return 0;
    }

    // The sink outlives the network threads that trace into it.
    TraceWindowSink traceSink;
    MainWindowController controller(&traceSink);
    DesktopNotifier notifier;
    controller.SetDesktopNotifier(&notifier);
    QtPrintDialog printDialog;
    QtPrintDialog drivePrintDialog = QtPrintDialog::ForDriveDocuments();
    QtConfirmBox confirmation;
    CQopraDlg window({controller,
                      housekeeping,
                      messages,
                      printDialog,
                      confirmation,
                      flags,
                      &traceSink,
                      {},
                      &drivePrintDialog});
    QObject::connect(&window, &CQopraDlg::endRequested, &application, [] { QApplication::exit(0); });
    restore = [&window] { window.Restore(); };
    notifier.SetTrayMessage(
        [&window](const QString& title, const QString& text, IDesktopNotifier::Urgency urgency) {
            return window.Tray().ShowMessage(title, text, urgency != IDesktopNotifier::Urgency::Low);
        });
    window.Initialise();
    QApplication::exec();
    restore = nullptr;
    window.Shutdown();
    controller.Shutdown();
    return 0;
}
