#include "core/NetTestDevice.h"
#include "core/PrintTestFiles.h"
#include "e2e/HeadlessServer.h"
#include "net/CSocketComm.h"
#include "platform/CodePage.h"
#include "protocol/ReceiveBuffer.h"
#include "support/ChildProcess.h"
#include "support/FileBytes.h"

#include <gtest/gtest.h>

#include <regex>

using namespace e2e;

namespace {

Settings MakeSettings() {
    Settings settings;
    settings.printers = {"Office", "Lab & Co", "Caf\xC3\xA9"};
    settings.aliases = {{"Office", "Front desk"}};
    return settings;
}

std::string Escaped(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        escaped += c == '&' ? std::string("&amp;") : std::string(1, c);
    }
    return escaped;
}

// The id of the connection whose line ends with `ending`.
std::string IdOfLineEnding(const HeadlessServer& server, const std::string& ending) {
    for (const std::string& line : server.Lines()) {
        if (line.size() > ending.size() &&
            line.compare(line.size() - ending.size(), ending.size(), ending) == 0) {
            const auto begin = line.find(" > ") + 3;
            return line.substr(begin, line.size() - ending.size() - begin);
        }
    }
    return {};
}

} // namespace

TEST(HeadlessNetwork, PrinterListComesByteForByteAndTraceLinesCarryTimes) {
    Settings settings = MakeSettings();
    HeadlessServer server(settings);
    ASSERT_TRUE(server.Running());
    ASSERT_TRUE(server.WaitFor(" is running on port " + std::to_string(settings.localPort)));

    const ProcessResult raw = RunProgram(PadCommand(settings, {"--raw", "list"}));
    ASSERT_EQ(raw.exitCode, 0);
    const std::string host = CSocketComm::LocalHostName();
    const std::string expected =
        "<commands><command type=\"PLS\"><parameters><parameter type =\"HOST_NAME\">" + Escaped(host) +
        "</parameter><parameter type =\"PRN_NAME\">Front desk</parameter>"
        "<parameter type =\"PRN_NAME\">Lab &amp; Co</parameter>"
        "<parameter type =\"PRN_NAME\">Caf\xE9</parameter></parameters></command></commands>";
    EXPECT_EQ(raw.output, expected);

    const ProcessResult listed = RunProgram(PadCommand(settings, {"list"}));
    ASSERT_EQ(listed.exitCode, 0);
    EXPECT_EQ(listed.output,
              "host name: " + host + "\nprinter: Front desk\nprinter: Lab & Co\nprinter: Caf\xC3\xA9\n");

    ASSERT_TRUE(server.WaitFor(" connection closed", 2));
    const std::regex stamped(R"(^\d\d:\d\d:\d\d > .+)");
    for (const std::string& line : server.Lines()) {
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    }
    EXPECT_EQ(server.Count(" successfully connected with 127.0.0.1"), 2u);
    EXPECT_TRUE(server.Stop()) << "an orderly end on SIGTERM";
}

TEST(HeadlessNetwork, CloseRequestClosesTheConnection) {
    Settings settings = MakeSettings();
    HeadlessServer server(settings);
    ASSERT_TRUE(server.WaitFor(" is running on port "));

    const ProcessResult closed = RunProgram(PadCommand(settings, {"close"}));
    EXPECT_EQ(closed.exitCode, 0);
    ASSERT_TRUE(server.WaitFor(" closing connection."));
    const std::string id = IdOfLineEnding(server, " closing connection.");
    EXPECT_TRUE(std::regex_match(id, std::regex(R"(ID\d+)"))) << id;
    EXPECT_EQ(server.Count(id + " successfully connected with 127.0.0.1"), 1u);
}

TEST(HeadlessNetwork, PrintCommandIsCarriedOutAndAnswered) {
    if (!printtest::HaveScheduler()) {
        GTEST_SKIP() << "no private scheduler (CUPS_SERVER)";
    }
    Settings settings = MakeSettings();
    settings.printers = {"qopra-null"};
    settings.aliases = {{"qopra-null", "Front desk"}};
    HeadlessServer server(settings);
    ASSERT_TRUE(server.WaitFor(" is running on port "));
    TempDir documents;
    WriteFileBytes(documents / "note.pdf", printtest::MinimalPdf());

    const ProcessResult printed =
        RunProgram(PadCommand(settings, {"print", (documents / "note.pdf").string(), "--printer",
                                         "Front desk", "--name", "note.7z"}));
    EXPECT_TRUE(server.WaitFor(" received note.7z"));
    EXPECT_TRUE(printed.output.ends_with("\nRESULT 0 (printed) REASON 0x0 (none)\n")) << printed.output;
    EXPECT_EQ(printed.exitCode, 0);
    EXPECT_TRUE(server.WaitFor(": note.7z printed successfully n.1 copies on qopra-null"));
    EXPECT_TRUE(
        server.WaitFor("<parameter type =\"RESULT\">0</parameter><error reason =\"RESULT\">0</error>"));

    // For scripts: the printer list as it came and the codes alone, in decimal.
    const ProcessResult raw =
        RunProgram(PadCommand(settings, {"--raw", "print", (documents / "note.pdf").string(), "--printer",
                                         "Front desk", "--name", "note.7z"}));
    const std::string rawResult = "</commands>RESULT 0 REASON 0\n";
    EXPECT_TRUE(raw.output.starts_with("<commands><command type=\"PLS\">")) << raw.output;
    EXPECT_TRUE(raw.output.ends_with(rawResult)) << raw.output;
}

TEST(HeadlessNetwork, PadSpeaksTheServersCodePageAndSendsNoNameItCannotHold) {
    if (!printtest::HaveScheduler()) {
        GTEST_SKIP() << "no private scheduler (CUPS_SERVER)";
    }
    Settings settings = MakeSettings();
    settings.printers = {"qopra-null"};
    settings.aliases = {{"qopra-null", "\u30D7\u30EA\u30F3\u30BF"}};
    settings.codepage = 932;
    HeadlessServer server(settings);
    ASSERT_TRUE(server.WaitFor(" is running on port "));
    TempDir documents;
    const std::string name = "\u30E1\u30CB\u30E5\u30FC.pdf";
    WriteFileBytes(documents / name, printtest::MinimalPdf());
    const std::vector<std::string> print = {"print", (documents / name).string(), "--printer",
                                            "\u30D7\u30EA\u30F3\u30BF"};

    // In the wire's default code page the name has no place: nothing is sent, and the pad says why.
    const std::vector<std::string> command = PadCommand(settings, print);
    ChildProcess refused(command.front(), {command.begin() + 1, command.end()});
    EXPECT_EQ(refused.Wait(std::chrono::seconds(30)), 2);
    EXPECT_NE(refused.Output().find("the name " + name + " cannot be sent in code page 1252"),
              std::string::npos)
        << refused.Output();
    EXPECT_EQ(server.Count(" received "), 0u);

    std::vector<std::string> japanese = {"--codepage", "932"};
    japanese.insert(japanese.end(), print.begin(), print.end());
    const ProcessResult printed = RunProgram(PadCommand(settings, japanese));
    EXPECT_EQ(printed.exitCode, 0) << printed.output;
    EXPECT_NE(printed.output.find("printer: \u30D7\u30EA\u30F3\u30BF\n"), std::string::npos)
        << printed.output;
    EXPECT_TRUE(printed.output.ends_with("\nRESULT 0 (printed) REASON 0x0 (none)\n")) << printed.output;
    EXPECT_TRUE(server.WaitFor(": " + name + ".7z printed successfully n.1 copies on qopra-null"));

    const ProcessResult unknown = RunProgram(PadCommand(settings, {"--codepage", "99999", "list"}));
    EXPECT_EQ(unknown.exitCode, 2);
}

TEST(HeadlessNetwork, PadHelpHostNamesAndWhatItWaitsFor) {
    const ProcessResult help = RunProgram({BinaryPath("qopra-pad"), "--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* part : {"--server HOST", "[127.0.0.1]",     "--udp-port PORT",
                             "[2001]",        "--pad-port PORT", "[2000]",
                             "--bind HOST",   "--broadcast",     "--timeout SECONDS",
                             "[60]",          "--codepage N",    "[1252]",
                             "--raw",         "--printer NAME",  "--copies N",
                             "[1]",           "--preview NAME",  "--name NAME",
                             "list",          "print FILE",      "close"}) {
        EXPECT_NE(help.output.find(part), std::string::npos) << part;
    }

    Settings settings = MakeSettings();
    HeadlessServer server(settings);
    ASSERT_TRUE(server.WaitFor(" is running on port "));
    const auto pad = ChildProcess::Executable("qopra-pad");
    ChildProcess byName(pad, {"--server", "localhost", "--udp-port", std::to_string(settings.localPort),
                              "--pad-port", std::to_string(settings.padPort), "--timeout", "20", "list"});
    EXPECT_EQ(byName.Wait(std::chrono::seconds(30)), 0) << byName.Output();
    EXPECT_NE(byName.Output().find("asking localhost (127.0.0.1:" + std::to_string(settings.localPort) +
                                   ") for a connection; waiting up to 20 s for it to connect to TCP port " +
                                   std::to_string(settings.padPort)),
              std::string::npos)
        << byName.Output();
    EXPECT_NE(byName.Output().find("\nprinter: Front desk\n"), std::string::npos) << byName.Output();

    ChildProcess unknown(pad, {"--server", "no-such-host.invalid", "list"});
    EXPECT_EQ(unknown.Wait(std::chrono::seconds(30)), 2);
    EXPECT_NE(unknown.Output().find("cannot find the IPv4 address of no-such-host.invalid"),
              std::string::npos)
        << unknown.Output();

    // Nobody answers on this port.
    const ReservedUdpPort nobody;
    const ReservedTcpPort padPort;
    ChildProcess unanswered(
        pad, {"--udp-port", nobody.Text(), "--pad-port", padPort.Text(), "--timeout", "2", "list"});
    EXPECT_EQ(unanswered.Wait(std::chrono::seconds(30)), 2);
    EXPECT_NE(unanswered.Output().find("no connection from the server within the time limit"),
              std::string::npos)
        << unanswered.Output();
}

TEST(HeadlessNetwork, HostileDevicesDoNotTakeTheServerDown) {
    Settings settings = MakeSettings();
    HeadlessServer server(settings);
    ASSERT_TRUE(server.WaitFor(" is running on port "));

    nettest::DeviceListener device("127.0.0.2", settings.padPort);
    ASSERT_TRUE(device.Valid());
    nettest::DatagramSender pad("127.0.0.2");
    ASSERT_TRUE(pad.Send(settings.localPort, "hello"));
    nettest::DeviceConnection connection = device.Accept();
    ASSERT_TRUE(connection.ReadMessage().has_value());

    ASSERT_TRUE(connection.SendBytes(std::string("<commands><oops") + '\0'));
    EXPECT_TRUE(server.WaitFor(" : error loading XML."));
    ASSERT_TRUE(connection.SendBytes(std::string("<commands><command type=\"PFL\"/></commands>") + '\0'));
    EXPECT_TRUE(server.WaitFor(" parse data error."));
    std::thread oversize([&connection] {
        connection.SendBytes(std::string(ReceiveBuffer::kReceiveBufferLimit + 1, 'A') + '\0');
    });
    EXPECT_TRUE(server.WaitFor(" : message too long, refused."));
    oversize.join();
    // A message cut off by the device going away.
    ASSERT_TRUE(connection.SendBytes("<commands><command type=\"PF"));
    EXPECT_TRUE(server.WaitFor(" : uncompleted packet received."));
    connection.Close();
    EXPECT_TRUE(server.WaitFor(" connection closed"));

    // A device that connects and then says nothing, for the rest of the test.
    nettest::DeviceListener silentDevice("127.0.0.3", settings.padPort);
    nettest::DatagramSender silentPad("127.0.0.3");
    ASSERT_TRUE(silentPad.Send(settings.localPort, "hello"));
    nettest::DeviceConnection silent = silentDevice.Accept();
    ASSERT_TRUE(silent.Valid());

    // A flood from a sender that accepts no connection.
    nettest::DatagramSender flooder("127.0.0.4");
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 2000; ++i) {
        flooder.Send(settings.localPort, "flood");
    }
    ASSERT_TRUE(server.WaitFor(" unable to communicate with 127.0.0.4"));

    const ProcessResult listed = RunProgram(PadCommand(settings, {"--bind", "127.0.0.5", "list"}));
    EXPECT_EQ(listed.exitCode, 0) << "the server still serves devices";
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LE(server.Count(" unable to communicate with 127.0.0.4"), static_cast<std::size_t>(seconds) + 1);
    EXPECT_TRUE(server.Alive());
    EXPECT_TRUE(server.Stop()) << "stops cleanly with a silent device connected";
}

TEST(HeadlessNetwork, TraceReaderThatIsGoneOrStuckHoldsNothingUp) {
    {
        // The reader takes one line and goes: the next trace line meets a closed pipe.
        Settings settings = MakeSettings();
        HeadlessServer server(settings, {}, TraceReader::FirstLineGone);
        // Whichever line comes first (a warning about the offered printers may come before the
        // start line) is the only one read.
        ASSERT_TRUE(server.WaitFor(""));
        EXPECT_EQ(RunProgram(PadCommand(settings, {"list"})).exitCode, 0);
        EXPECT_EQ(RunProgram(PadCommand(settings, {"list"})).exitCode, 0);
        EXPECT_TRUE(server.Alive());
        EXPECT_TRUE(server.Stop()) << "an orderly end, not SIGPIPE";
    }
    {
        // The reader never reads: trace lines of 60 KB fill the pipe at once.
        Settings settings = MakeSettings();
        HeadlessServer server(settings, {}, TraceReader::Stuck);
        ASSERT_EQ(RunProgram(PadCommand(settings, {"list"})).exitCode, 0);
        for (int sender = 7; sender < 12; ++sender) {
            nettest::DatagramSender big("127.0.0." + std::to_string(sender));
            EXPECT_TRUE(big.Send(settings.localPort, std::string(60000, 'x')));
        }
        EXPECT_EQ(RunProgram(PadCommand(settings, {"--bind", "127.0.0.5", "list"})).exitCode, 0)
            << "devices are still served";
        EXPECT_TRUE(server.Stop()) << "SIGTERM still ends the server in order";
    }
}

TEST(HeadlessNetwork, StartSaysWhatKeepsDevicesFromBeingServed) {
    Settings settings = MakeSettings();
    settings.printers.clear();
    settings.aliases.clear();
    HeadlessServer server(settings);
    ASSERT_TRUE(server.WaitFor(" is running on port "));
    // The service's administrator is told to edit the settings file, not to use a window.
    EXPECT_TRUE(server.WaitFor("No printer is offered: devices will see an empty printer list. Edit "));
    EXPECT_TRUE(server.WaitFor("list the printers as <printer> elements of <printers> (lpstat -e names the "
                               "queues), then restart the service."));
    EXPECT_EQ(server.Count("No printer is offered"), 1u);
    EXPECT_EQ(server.Count("settings window"), 0u);

    // A second server on the same port says why it cannot start, once, though it tries again every
    // few seconds.
    Settings same = settings;
    same.reservedPadPort = std::make_shared<ReservedTcpPort>();
    same.padPort = same.reservedPadPort->Port();
    HeadlessServer second(same);
    const std::string port = std::to_string(settings.localPort);
    EXPECT_TRUE(second.WaitFor(" port " + port + ": Address already in use"));
    std::this_thread::sleep_for(std::chrono::milliseconds(6500));
    EXPECT_EQ(second.Count(" port " + port + ": Address already in use"), 1u) << "not every 5 s";
    const std::string log = ReadFileBytes(second.Data() / "qopra.log");
    EXPECT_NE(log.find("[ERROR] Unable to start UDP server on port " + port + ": Address already in use. "),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("set another <local_port> in "), std::string::npos) << log;
}
