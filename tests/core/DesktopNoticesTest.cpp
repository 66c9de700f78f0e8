#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/DesktopNotices.h"
#include "app/EventLog.h"
#include "app/ServiceProblems.h"
#include "app/StartupChecks.h"
#include "config/AppSettings.h"
#include "support/FileBytes.h"
#include "support/LogLines.h"
#include "support/TempDir.h"

namespace {

using Problem = ServiceProblems::Problem;
using Audience = ServiceProblems::Audience;

class RecordedNotifier : public IDesktopNotifier {
public:
    struct Notice {
        Urgency urgency;
        std::string title;
        std::string text;
    };
    void Notify(Urgency urgency, const std::string& title, const std::string& text) override {
        shown.push_back({urgency, title, text});
    }
    std::vector<Notice> shown;
};

class DesktopNoticesTest : public testing::Test {
protected:
    void SetUp() override {
        EventLog::Global().SetFileName(dir / "qopra.log");
        settings.language = 2057;
        settings.notify_printed = true;
        settings.path = (dir / "qopra.xml").string();
    }
    void TearDown() override {
        EventLog::Global().SetFileName({});
        settings.language = 0;
        settings.notify_printed = true;
        settings.path.clear();
        settings.SetPrinters({});
    }
    std::vector<std::string> Log() const { return LogMessages(dir / "qopra.log"); }

    TempDir dir;
    AppSettings& settings = AppSettings::Instance();
    RecordedNotifier notifier;
    DesktopNotices notices{&notifier};
};

} // namespace

TEST_F(DesktopNoticesTest, PrintsAreToldInTheInterfaceLanguageAndPrintedOnlyWhileTheSettingWantsIt) {
    notices.PrintFailed("Invoice.pdf", "Tablet 7",
                        DesktopNotices::ReasonWords(DesktopNotices::ReasonOf(0x11)));
    notices.Printed("Welcome.htm", "Tablet 7", "Office");
    settings.notify_printed = false;
    notices.Printed("Quiet.htm", "Tablet 7", "Office");
    notices.PrintFailed("Report.htm", "10.0.0.5",
                        DesktopNotices::ReasonWords(DesktopNotices::FailureReason::UnsupportedType));
    ASSERT_EQ(notifier.shown.size(), 3u);
    EXPECT_EQ(notifier.shown[0].urgency, IDesktopNotifier::Urgency::Normal);
    EXPECT_EQ(notifier.shown[0].title, "Printing failed");
    // Out of paper tells more than paused: it is what the person mends.
    EXPECT_EQ(notifier.shown[0].text, "Invoice.pdf from Tablet 7 was not printed: out of paper.");
    EXPECT_EQ(notifier.shown[1].urgency, IDesktopNotifier::Urgency::Low);
    EXPECT_EQ(notifier.shown[1].title, "Printed");
    EXPECT_EQ(notifier.shown[1].text, "Welcome.htm from Tablet 7 was printed on Office.");
    EXPECT_EQ(notifier.shown[2].text, "Report.htm from 10.0.0.5 was not printed: cannot print this type.");

    settings.language = 1040;
    notices.PrintFailed("A%2.pdf", "B%1", DesktopNotices::ReasonWords(DesktopNotices::ReasonOf(0x1)));
    EXPECT_EQ(notifier.shown.back().title, "Stampa non riuscita");
    // Markers inside the names stay as they are.
    EXPECT_EQ(notifier.shown.back().text, "A%2.pdf da B%1 non è stato stampato: in pausa.");
    EXPECT_EQ(DesktopNotices::ReasonOf(0), DesktopNotices::FailureReason::PrinterError);
    EXPECT_EQ(DesktopNotices::ReasonOf(0x400000 | 0x2), DesktopNotices::FailureReason::DoorOpen);

    // Without a desktop (the service) nothing is shown and nothing fails.
    DesktopNotices service;
    service.PrintFailed("x", "y", "z");
    service.CannotServe("problem");
    EXPECT_FALSE(service.Enabled());
}

TEST_F(DesktopNoticesTest, AProblemIsSaidOnceUntilResolvedWithTheRemedyOfItsAudience) {
    ServiceProblems desktop(Audience::Desktop, notices);
    EXPECT_TRUE(desktop.Report(Problem::PortTaken, "2001", "Address already in use"));
    // The retry every few seconds finds the same: said nowhere again.
    EXPECT_FALSE(desktop.Report(Problem::PortTaken, "2001", "Address already in use"));
    ASSERT_EQ(notifier.shown.size(), 1u);
    EXPECT_EQ(notifier.shown[0].urgency, IDesktopNotifier::Urgency::Critical);
    EXPECT_EQ(notifier.shown[0].title, "Qopra cannot serve the devices");
    EXPECT_NE(notifier.shown[0].text.find("UDP port 2001 is taken"), std::string::npos);
    EXPECT_NE(notifier.shown[0].text.find("settings window"), std::string::npos);
    ASSERT_EQ(Log().size(), 1u);
    EXPECT_TRUE(
        Log()[0].starts_with("[ERROR] Unable to start UDP server on port 2001: Address already in use."))
        << Log()[0];
    EXPECT_NE(Log()[0].find("sudo ss -ulpn 'sport = :2001'"), std::string::npos);
    EXPECT_EQ(desktop.Current().size(), 1u);

    // Resolved, then back: said again.
    desktop.Resolved(Problem::PortTaken);
    EXPECT_TRUE(desktop.Current().empty());
    EXPECT_TRUE(desktop.Report(Problem::PortTaken, "2001", "Address already in use"));
    EXPECT_EQ(notifier.shown.size(), 2u);

    // The service's administrator edits the file; no notification without a desktop.
    DesktopNotices none;
    ServiceProblems service(Audience::Service, none);
    EXPECT_TRUE(service.Report(Problem::PortUnavailable, "80", "Permission denied"));
    const std::string said = Log().back();
    EXPECT_NE(said.find("set another <local_port> in " + settings.path + " and restart the service"),
              std::string::npos)
        << said;
    EXPECT_EQ(said.find("settings window"), std::string::npos);
    EXPECT_EQ(notifier.shown.size(), 2u);
    for (const Problem problem :
         {Problem::SettingsUnreadable, Problem::DataFolderNotWritable, Problem::SpoolerUnreachable,
          Problem::NoPrinterOffered, Problem::UnknownPrinter}) {
        const std::string forService = ServiceProblems::Describe(problem, Audience::Service, "S", "C", "F");
        const std::string forDesktop = ServiceProblems::Describe(problem, Audience::Desktop, "S", "C", "F");
        EXPECT_EQ(forService.find("settings window"), std::string::npos) << forService;
        EXPECT_NE(forService, forDesktop);
        EXPECT_FALSE(ServiceProblems::Notice(problem, "S", "C").empty());
    }

    // The notification speaks the interface language.
    settings.language = 1040;
    desktop.Report(Problem::SpoolerUnreachable, "/run/cups/cups.sock", "No such file or directory");
    EXPECT_EQ(notifier.shown.back().title, "Qopra non può servire i dispositivi");
    EXPECT_EQ(
        notifier.shown.back().text.find("Lo spooler di stampa non è raggiungibile (/run/cups/cups.sock)"),
        0u);
}

TEST_F(DesktopNoticesTest, OfferedPrintersAreCheckedAgainstTheSpoolerAndMendedOnesForgotten) {
    ServiceProblems problems(Audience::Desktop, notices);
    const std::vector<std::string> queues = {"Office", "Front"};
    std::vector<std::string> said = StartupChecks::ReportPrintersOffered(settings, queues, problems);
    ASSERT_EQ(said.size(), 1u);
    EXPECT_TRUE(said[0].starts_with("No printer is offered")) << said[0];
    EXPECT_TRUE(StartupChecks::ReportPrintersOffered(settings, queues, problems).empty()) << "said once";

    settings.SetPrinters({"Office", "Gone", "Typo"});
    said = StartupChecks::ReportPrintersOffered(settings, queues, problems);
    ASSERT_EQ(said.size(), 2u);
    EXPECT_TRUE(said[0].starts_with("The offered printer Gone is not a queue of the spooler")) << said[0];
    EXPECT_TRUE(said[1].starts_with("The offered printer Typo")) << said[1];
    EXPECT_FALSE(problems.Known(Problem::NoPrinterOffered));
    EXPECT_EQ(notifier.shown.size(), 3u);

    // Typo mended: only Gone stays known, nothing is said again.
    settings.SetPrinters({"Office", "Gone", "Front"});
    EXPECT_TRUE(StartupChecks::ReportPrintersOffered(settings, queues, problems).empty());
    EXPECT_EQ(problems.Subjects(Problem::UnknownPrinter), (std::vector<std::string>{"Gone"}));
    // A spooler that cannot be asked calls no printer unknown.
    EXPECT_TRUE(StartupChecks::ReportPrintersOffered(settings, std::nullopt, problems).empty());
    EXPECT_FALSE(problems.Known(Problem::UnknownPrinter));
    EXPECT_EQ(notifier.shown.size(), 3u);
}

TEST_F(DesktopNoticesTest, NotifyPrintedIsAnOptionalSettingThatOlderFilesLoadWithout) {
    const std::filesystem::path file = dir / "qopra.xml";
    AppSettings own;
    WriteFileBytes(file, "<?xml version=\"1.0\"?>\n<settings><backup>1</backup></settings>\n");
    ASSERT_TRUE(own.Load(file.string()));
    EXPECT_TRUE(own.notify_printed) << "on when the element is missing";
    ASSERT_TRUE(own.Save());
    EXPECT_EQ(ReadFileBytes(file).find("notify_printed"), std::string::npos)
        << "an older file stays as it was";
    own.notify_printed = false;
    ASSERT_TRUE(own.Save());
    AppSettings reread;
    ASSERT_TRUE(reread.Load(file.string()));
    EXPECT_FALSE(reread.notify_printed);
    EXPECT_NE(ReadFileBytes(file).find("<notify_printed>0</notify_printed>"), std::string::npos);
}
