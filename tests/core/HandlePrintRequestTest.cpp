#include <gtest/gtest.h>

#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "config/AppSettings.h"
#include "core/NetTestDevice.h"
#include "core/PrintTestFiles.h"
#include "net/TCPXmlManager.h"
#include "print/PrinterStatus.h"
#include "protocol/Base64.h"
#include "protocol/PrintCommand.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

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
        manager.SetCommand(&command);
        manager.SetTraceSink(&trace);
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
    TCPXmlManager manager;
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

    EXPECT_EQ(
        Send(PrintMessage("a.7z", Archive(document, printtest::MinimalPdf()), "qopra-paused", document, "1")),
        Result(4, PrinterStatus::kPaused));
    EXPECT_TRUE(trace.WaitFor(": a.7z print failed on qopra-paused"));
}
