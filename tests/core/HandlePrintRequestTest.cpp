#include <gtest/gtest.h>

#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "config/AppSettings.h"
#include "core/NetTestDevice.h"
#include "core/PrintTestFiles.h"
#include "net/TCPXmlManager.h"
#include "print/PrinterStatus.h"
#include "print/Spooler.h"
#include "protocol/Base64.h"
#include "protocol/PrintCommand.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"

namespace fs = std::filesystem;
using namespace nettest;

namespace {

std::string PrintMessage(const std::string& fileName, const std::string& content, const std::string& printer,
                         const std::string& preview, const std::string& copies) {
    return "<commands><command type=\"PFL\"><parameters>"
           "<parameter type=\"FILE_CONTENT\">" +
           Base64::Encode(content) + "</parameter><parameter type=\"FILE_NAME\">" + fileName +
           "</parameter><parameter type=\"PRINTER\">" + printer +
           "</parameter><parameter type=\"FILE_PREVIEW\">" + preview +
           "</parameter><parameter type=\"COPIES\">" + copies +
           "</parameter></parameters></command></commands>" + '\0';
}

std::string Result(int result, std::uint32_t reason) {
    return "<commands><command type=\"PRP\"><parameters><parameter type =\"RESULT\">" +
           std::to_string(result) + "</parameter><error reason =\"RESULT\">" + std::to_string(reason) +
           "</error></parameters></command></commands>";
}

// A device connected to the handler the way the service wires it, printing through staging into a
// data folder of its own.
class HandlePrintRequestTest : public testing::Test {
protected:
    void SetUp() override {
        DataFolder::SetPath(dir / "data");
        EventLog::Global().SetFileName(dir / "qopra.log");
        AppSettings::Instance().backup = false;
        AppSettings::Instance().SetPrinters({"qopra-pdf", "qopra-paused"});
        AppSettings::Instance().SetAlias("qopra-pdf", "Office");
        manager.SetDevicePort(device.PortText());
        ASSERT_TRUE(manager.ConnectToDevice("127.0.0.1"));
        connection.emplace(device.Accept());
        ASSERT_TRUE(connection->ReadMessage().has_value());
    }
    void TearDown() override {
        manager.Stop();
        EventLog::Global().SetFileName({});
        DataFolder::SetPath({});
        AppSettings::Instance().SetAlias("qopra-pdf", "");
    }

    // An archive holding one document.
    std::string Archive(const std::string& document, const std::string& bytes) {
        const fs::path source = dir / "source";
        fs::remove_all(source);
        fs::create_directories(source);
        WriteFileBytes(source / document, bytes);
        fs::remove(dir / "a.7z");
        EXPECT_TRUE(printtest::MakeArchive(dir / "a.7z", source, {document}));
        return ReadFileBytes(dir / "a.7z");
    }

    std::optional<std::string> Send(const std::string& message) {
        EXPECT_TRUE(connection->SendBytes(message));
        return connection->ReadMessage();
    }

    TempDir dir;
    TraceRecorder trace;
    PrintCommand command;
    TCPXmlManager manager{command, &trace};
    DeviceListener device{"127.0.0.1"};
    std::optional<DeviceConnection> connection;
};

} // namespace

TEST_F(HandlePrintRequestTest, NamesThatLeaveTheWorkingFolderAreRefusedAndNothingIsWritten) {
    const std::string archive = Archive("doc.htm", "x");
    EXPECT_EQ(Send(PrintMessage("../escaped.7z", archive, "Office", "doc.htm", "1")), Result(1, 0));
    EXPECT_EQ(Send(PrintMessage("sub/escaped.7z", archive, "Office", "doc.htm", "1")), Result(1, 0));
    EXPECT_FALSE(fs::exists(dir / "data" / "escaped.7z"));
    EXPECT_FALSE(fs::exists(dir / "data" / "sub"));
    EXPECT_TRUE(trace.WaitFor(": unable to find ../escaped.7z"));
    EXPECT_TRUE(trace.WaitFor(": unable to find sub/escaped.7z"));

    EXPECT_EQ(Send(PrintMessage("a.7z", archive, "Office", "../doc.htm", "1")), Result(3, 0));
    EXPECT_TRUE(trace.WaitFor(": unable to find preview file  ../doc.htm"));
}

TEST_F(HandlePrintRequestTest, MissingDocumentAndTwoRequestsInARowEachGetTheirAnswer) {
    const std::string archive = Archive("doc.htm", "x");
    EXPECT_EQ(Send(PrintMessage("a.7z", archive, "Office", "other.htm", "1")), Result(3, 0));
    // Content that decodes to nothing is no archive: the unpacking fails.
    EXPECT_EQ(Send(PrintMessage("b.7z", "", "Office", "other.htm", "1")), Result(2, 0));
    EXPECT_TRUE(trace.WaitFor(" received a.7z"));
    EXPECT_TRUE(trace.WaitFor(" received b.7z"));
    EXPECT_EQ(trace.Count(": unable to find preview file  other.htm"), 1u);
    EXPECT_TRUE(trace.WaitFor(": unable to decompress b.7z"));
}

TEST_F(HandlePrintRequestTest, PdfIsPrintedOnTheRealPrinterBehindTheAlias) {
    if (!printtest::HaveScheduler()) {
        GTEST_SKIP() << "no private scheduler (CUPS_SERVER)";
    }
    const std::string document = "Alias-" + std::to_string(::getpid()) + ".pdf";
    EXPECT_EQ(Send(PrintMessage("a.7z", Archive(document, printtest::MinimalPdf()), "OFFICE", document, "2")),
              Result(0, 0));
    EXPECT_TRUE(trace.WaitFor(": a.7z printed successfully n.2 copies on qopra-pdf"));
    const auto job = printtest::FindJob("qopra-pdf", document);
    ASSERT_TRUE(job.has_value());
    EXPECT_EQ(job->copies, 2);
    // A count that is no number prints one copy, and the trace names that one.
    EXPECT_EQ(
        Send(PrintMessage("c.7z", Archive(document, printtest::MinimalPdf()), "OFFICE", document, "abc")),
        Result(0, 0));
    EXPECT_TRUE(trace.WaitFor(": c.7z printed successfully n.1 copies on qopra-pdf"));

    EXPECT_EQ(
        Send(PrintMessage("a.7z", Archive(document, printtest::MinimalPdf()), "qopra-paused", document, "1")),
        Result(4, PrinterStatus::kPaused));
    EXPECT_TRUE(trace.WaitFor(": a.7z print failed on qopra-paused"));
}

TEST_F(HandlePrintRequestTest, RequestsRunSideBySideAndNoneHoldsUpAnother) {
    if (!printtest::HaveScheduler()) {
        GTEST_SKIP() << "no private scheduler (CUPS_SERVER)";
    }
    AppSettings::Instance().SetPrinters({"qopra-pdf", "qopra-busy", "qopra-null"});
    // A second and a third device, on addresses of their own.
    std::optional<DeviceListener> secondDevice;
    std::optional<DeviceListener> thirdDevice;
    ASSERT_TRUE(ListenOnSamePort(device, "127.0.0.2", secondDevice));
    ASSERT_TRUE(ListenOnSamePort(device, "127.0.0.3", thirdDevice));
    ASSERT_TRUE(manager.ConnectToDevice("127.0.0.2"));
    DeviceConnection second = secondDevice->Accept();
    ASSERT_TRUE(second.ReadMessage().has_value());
    ASSERT_TRUE(manager.ConnectToDevice("127.0.0.3"));
    DeviceConnection third = thirdDevice->Accept();
    ASSERT_TRUE(third.ReadMessage().has_value());

    // The first device prints on a printer busy with another job: its own waits in the queue.
    const fs::path hold = fs::path(std::getenv("CUPS_SERVER")).parent_path() / "out" / "qopra-busy.hold";
    WriteFileBytes(hold, "");
    WriteFileBytes(dir / "blocker.pdf", printtest::MinimalPdf());
    const int blocker = Spooler::SubmitFile("qopra-busy", dir / "blocker.pdf", "blocker", 1);
    ASSERT_TRUE(printtest::WaitForJobState("qopra-busy", blocker, Spooler::JobState::Processing));
    const std::string held = "Held-" + std::to_string(::getpid()) + ".pdf";
    ASSERT_TRUE(connection->SendBytes(
        PrintMessage("same.7z", Archive(held, printtest::MinimalPdf()), "qopra-busy", held, "1")));
    ASSERT_TRUE(trace.WaitFor(" received same.7z"));

    // Two more devices send archives of the same names at once, each with its own document: each
    // prints its own, and both are answered while the first still waits.
    const std::string page = "Same-" + std::to_string(::getpid()) + ".pdf";
    const std::string secondMessage =
        PrintMessage("same.7z", Archive(page, printtest::MinimalPdf(50000)), "qopra-pdf", page, "1");
    const std::string thirdMessage =
        PrintMessage("same.7z", Archive(page, printtest::MinimalPdf(150000)), "qopra-null", page, "2");
    ASSERT_TRUE(second.SendBytes(secondMessage));
    ASSERT_TRUE(third.SendBytes(thirdMessage));
    EXPECT_EQ(second.ReadMessage(), Result(0, 0));
    EXPECT_EQ(third.ReadMessage(), Result(0, 0));
    EXPECT_EQ(trace.Count(" printed successfully n."), 2u) << "the first device is still waiting";
    const auto onPdf = printtest::FindJob("qopra-pdf", page);
    const auto onNull = printtest::FindJob("qopra-null", page);
    ASSERT_TRUE(onPdf && onNull);
    EXPECT_EQ(onNull->copies, 2);
    // Each printed the document it sent.
    EXPECT_LT(onPdf->sizeBytes, 100000);
    EXPECT_GT(onNull->sizeBytes, 100000);

    fs::remove(hold);
    EXPECT_EQ(connection->ReadMessage(), Result(0, 0));
    // Nothing of the requests is left below "pf" but the last printed document.
    EXPECT_TRUE(WaitUntil([&] {
        return std::distance(fs::directory_iterator(dir / "data" / "pf"), fs::directory_iterator()) == 1;
    }));
}

TEST_F(HandlePrintRequestTest, EveryRequestOfADeviceIsAnsweredInOrderAndRecorded) {
    // Twelve prints back to back: twelve answers in order and twelve result lines, however fast.
    const std::string archive = Archive("doc.htm", "x");
    std::string burst;
    for (int i = 0; i < 12; ++i) {
        burst += PrintMessage("a" + std::to_string(i) + ".7z", archive, "Office",
                              "missing" + std::to_string(i) + ".htm", "1");
    }
    ASSERT_TRUE(connection->SendBytes(burst));
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(connection->ReadMessage(), Result(3, 0)) << i;
    }
    for (int i = 0; i < 12; ++i) {
        EXPECT_TRUE(trace.WaitFor(": unable to find preview file  missing" + std::to_string(i) + ".htm"));
        EXPECT_EQ(trace.Count(" received a" + std::to_string(i) + ".7z"), 1u);
    }
}
