#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/PrintTestFiles.h"
#include "print/Spooler.h"
#include "support/ChildProcess.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

// The real qopra2 -headless prints what the real qopra-pad sends it, on the private scheduler of the
// test command (tests/rig/cups-rig.sh).
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr auto kGuard = 60s;

// A port nobody uses right now, of the given socket type.
std::string FreePort(int type) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return std::to_string(ntohs(address.sin_port));
}

struct PadRun {
    int exitCode = -1;
    std::string output;
};

// One server with its own data folder, ports and lpoptions.
class Server {
public:
    explicit Server(std::map<std::string, std::string> extraEnvironment = {})
        : udpPort(FreePort(SOCK_DGRAM)), padPort(FreePort(SOCK_STREAM)) {
        fs::create_directories(home / "Qopra");
        WriteFileBytes(home / "Qopra" / "qopra.xml",
                       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<settings><local_port>" + udpPort +
                           "</local_port><pad_port>" + padPort +
                           "</pad_port><local_address></local_address><mac></mac><backup>0</backup>"
                           "<printers><printer>qopra-pdf</printer><printer>qopra-paused</printer></printers>"
                           "<aliases><alias>qopra-pdf|Office</alias></aliases><lang>en-GB</lang>"
                           "<delay>30000</delay></settings>\n");
        std::map<std::string, std::string> environment{{"XDG_DATA_HOME", home.Path().string()},
                                                       {"XDG_RUNTIME_DIR", home.Path().string()},
                                                       {"HOME", home.Path().string()}};
        environment.merge(extraEnvironment);
        process.emplace(ChildProcess::Executable("qopra2"), std::vector<std::string>{"-headless"},
                        environment);
        running = process->WaitForOutput(" is running on port " + udpPort, kGuard);
    }
    ~Server() {
        process->Signal(SIGTERM);
        process->Wait(kGuard);
    }

    // Each run plays a device of its own loopback address: the server allows one connection per
    // address and second.
    PadRun Pad(const std::vector<std::string>& arguments) {
        const std::string device = "127.0.0." + std::to_string(++devices + 1);
        std::vector<std::string> all = {"--server", "127.0.0.1", "--udp-port", udpPort,     "--pad-port",
                                        padPort,    "--bind",    device,       "--timeout", "60"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        ChildProcess pad(ChildProcess::Executable("qopra-pad"), all);
        PadRun run;
        run.exitCode = pad.Wait(kGuard).value_or(-1);
        run.output = pad.Output();
        return run;
    }

    TempDir home;
    std::string udpPort;
    std::string padPort;
    std::optional<ChildProcess> process;
    bool running = false;
    int devices = 0;
};

class PrintRequestTest : public testing::Test {
protected:
    void SetUp() override {
        documents = dir / "documents";
        fs::create_directories(documents);
        pdf = documents / ("Report-" + std::to_string(::getpid()) + ".pdf");
        WriteFileBytes(pdf, printtest::MinimalPdf());
        WriteFileBytes(documents / "page.htm", "<html><body>page</body></html>");
    }

    TempDir dir;
    fs::path documents;
    fs::path pdf;
};

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST_F(PrintRequestTest, PdfInAnArchiveIsPrintedWithItsCopiesOnThePrinterBehindTheAlias) {
    if (!printtest::HaveScheduler()) {
        GTEST_SKIP() << "no private scheduler (CUPS_SERVER)";
    }
    Server server;
    ASSERT_TRUE(server.running) << server.process->Output();

    const PadRun printed = server.Pad({"print", pdf.string(), "--printer", "Office", "--copies", "2"});
    EXPECT_EQ(printed.exitCode, 0) << printed.output;
    EXPECT_TRUE(Has(printed.output, "RESULT 0 REASON 0")) << printed.output;
    const std::string archive = pdf.filename().string() + ".7z";
    EXPECT_TRUE(server.process->WaitForOutput(
        ": " + archive + " printed successfully n.2 copies on qopra-pdf", kGuard))
        << server.process->Output();
    const auto job = printtest::FindJob("qopra-pdf", pdf.filename().string());
    ASSERT_TRUE(job.has_value());
    EXPECT_EQ(job->copies, 2);

    const PadRun paused = server.Pad({"print", pdf.string(), "--printer", "qopra-paused"});
    EXPECT_EQ(paused.exitCode, 1);
    EXPECT_TRUE(Has(paused.output, "RESULT 4 REASON 1")) << paused.output;
    EXPECT_TRUE(server.process->WaitForOutput(": " + archive + " print failed on qopra-paused", kGuard));

    const PadRun unknown = server.Pad({"print", pdf.string(), "--printer", "no-such-printer"});
    EXPECT_TRUE(Has(unknown.output, "RESULT 4 REASON 0")) << unknown.output;
}

TEST_F(PrintRequestTest, MissingDocumentAndUnsafeNamesAreAnsweredWithoutPrinting) {
    Server server;
    ASSERT_TRUE(server.running) << server.process->Output();

    const PadRun missing = server.Pad(
        {"print", (documents / "page.htm").string(), "--printer", "Office", "--preview", "notes.txt"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(Has(missing.output, "RESULT 3 REASON 0")) << missing.output;
    EXPECT_TRUE(server.process->WaitForOutput(": unable to find preview file  notes.txt", kGuard));

    for (const std::string name : {"../escaped.7z", "sub/escaped.7z"}) {
        const PadRun unsafe = server.Pad({"print", pdf.string(), "--printer", "Office", "--name", name});
        EXPECT_TRUE(Has(unsafe.output, "RESULT 1 REASON 0")) << name << unsafe.output;
        EXPECT_TRUE(server.process->WaitForOutput(": unable to find " + name, kGuard));
    }
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(server.home.Path())) {
        EXPECT_NE(entry.path().filename(), "escaped.7z") << entry.path();
    }
}

TEST_F(PrintRequestTest, ArchiveProgramMissingFromPathAndProgramFolderGivesTwo) {
    const fs::path emptyBin = dir / "bin";
    fs::create_directories(emptyBin);
    ASSERT_FALSE(fs::exists(ChildProcess::Executable("7za")));
    Server server({{"PATH", emptyBin.string()}});
    ASSERT_TRUE(server.running) << server.process->Output();

    const PadRun run = server.Pad({"print", pdf.string(), "--printer", "Office"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Has(run.output, "RESULT 2 REASON 0")) << run.output;
    EXPECT_TRUE(
        server.process->WaitForOutput(": unable to decompress " + pdf.filename().string() + ".7z", kGuard));
}
