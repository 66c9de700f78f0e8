#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/PrintTestFiles.h"
#include "platform/Unicode.h"
#include "support/ChildProcess.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

// An HTML document sent by the real qopra-pad is printed by the real qopra2 -headless through its
// hidden browser page, on the private scheduler of the test command (tests/rig/cups-rig.sh).
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr auto kGuard = 90s;
constexpr const char* kPrinter = "qopra-null";

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

// A small PNG picture, embedded in the page so that the one-document archive carries it.
const char* const kPictureDataUri =
    "data:image/"
    "png;base64,"
    "iVBORw0KGgoAAAANSUhEUgAAAAgAAAAICAIAAABLbSncAAAAEUlEQVR4nGNQaHDAihiGlgQA2gM4AQRmgAkAAAAASUVORK5CYII=";

struct PadRun {
    int exitCode = -1;
    std::string output;
};

class HtmlServer {
public:
    explicit HtmlServer(bool backup) : udpPort(FreePort(SOCK_DGRAM)), padPort(FreePort(SOCK_STREAM)) {
        fs::create_directories(home / "Qopra");
        WriteFileBytes(home / "Qopra" / "qopra.xml",
                       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<settings><local_port>" + udpPort +
                           "</local_port><pad_port>" + padPort +
                           "</pad_port><local_address></local_address><mac></mac><backup>" +
                           (backup ? "1" : "0") + "</backup><printers><printer>" + kPrinter +
                           "</printer></printers><aliases></aliases><lang>en-GB</lang>"
                           "<delay>30000</delay></settings>\n");
        process.emplace(ChildProcess::Executable("qopra2"), std::vector<std::string>{"-headless"},
                        std::map<std::string, std::string>{{"XDG_DATA_HOME", home.Path().string()},
                                                           {"XDG_RUNTIME_DIR", home.Path().string()},
                                                           {"HOME", home.Path().string()}});
        running = process->WaitForOutput(" is running on port " + udpPort, kGuard);
    }
    ~HtmlServer() {
        process->Signal(SIGTERM);
        process->Wait(kGuard);
    }

    PadRun Print(const fs::path& document) {
        ChildProcess pad(ChildProcess::Executable("qopra-pad"),
                         {"--server", "127.0.0.1", "--udp-port", udpPort, "--pad-port", padPort, "--bind",
                          "127.0.0.2", "--timeout", "90", "print", document.string(), "--printer", kPrinter});
        PadRun run;
        run.exitCode = pad.Wait(kGuard).value_or(-1);
        run.output = pad.Output();
        return run;
    }

    fs::path Data() const { return home / "Qopra"; }
    std::string Log() const { return ReadFileBytes(Data() / "qopra.log"); }

    TempDir home;
    std::string udpPort;
    std::string padPort;
    std::optional<ChildProcess> process;
    bool running = false;
};

std::string RegisterText(const fs::path& path) {
    const std::string bytes = ReadFileBytes(path);
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return Utf16ToUtf8(text);
}

class HtmlPrintTest : public testing::Test {
protected:
    void SetUp() override {
        if (!printtest::HaveScheduler()) {
            GTEST_SKIP() << "no private scheduler (CUPS_SERVER)";
        }
        name = "page-" + std::to_string(::getpid()) + "-" +
               testing::UnitTest::GetInstance()->current_test_info()->name() + ".htm";
        document = dir / name;
        WriteFileBytes(document, std::string("<html><body><h1>Qopra</h1><img src=\"") + kPictureDataUri +
                                     "\" width=\"64\" height=\"64\"></body></html>");
    }

    TempDir dir;
    std::string name;
    fs::path document;
};

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST_F(HtmlPrintTest, HtmlPageIsPrintedThroughTheBrowserRecordedAndItsWorkingFolderKept) {
    HtmlServer server(true);
    ASSERT_TRUE(server.running) << server.process->Output();

    const PadRun run = server.Print(document);
    EXPECT_EQ(run.exitCode, 0) << run.output << server.process->Output();
    EXPECT_TRUE(Has(run.output, "RESULT 0 REASON 0")) << run.output;
    EXPECT_TRUE(printtest::FindJob(kPrinter, name).has_value());
    EXPECT_FALSE(Has(server.Log(), "PrintFileOnBrowser error.")) << server.Log();

    // The register is written on the GUI thread right after the record arrives; the reply comes later.
    const std::string text = RegisterText(server.Data() / "printed.xml");
    ASSERT_TRUE(Has(text, "<prints><print id=\"")) << text;
    EXPECT_TRUE(Has(text, " zip=\"" + name + ".7z\" prn=\"" + kPrinter + "\" index=\"" + name + "\" dir=\""))
        << text;
    const std::size_t dirStart = text.find(" dir=\"") + 6;
    const fs::path folder = text.substr(dirStart, text.find('"', dirStart) - dirStart);
    EXPECT_EQ(folder.parent_path(), server.Data());
    EXPECT_TRUE(fs::exists(folder / name)) << folder;
    EXPECT_TRUE(fs::exists(folder / (name + ".7z"))) << folder;
}
