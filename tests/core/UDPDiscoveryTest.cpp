#include "config/AppSettings.h"
#include "core/NetTestDevice.h"
#include "net/MacToAddress.h"
#include "net/NetworkService.h"
#include "net/TCPXmlManager.h"
#include "net/UDPServer.h"
#include "net/UDPXmlManager.h"
#include "platform/NetworkAdapters.h"
#include "protocol/PrintCommand.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <thread>

using namespace nettest;

namespace {

// The discovery chain as the service builds it: datagram socket, datagram handler, connection handler.
class DiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        AppSettings::Instance().SetPrinters({"Office"});
        udpManager.SetTCPManager(&tcpManager);
        server.SetManager(&udpManager);
        server.SetTraceSink(&trace);
        ASSERT_TRUE(device.Valid());
        tcpManager.SetDevicePort(device.PortText());
        ASSERT_TRUE(server.Start("", "0"));
        port = server.LocalPort();
    }
    void TearDown() override {
        server.Stop();
        udpManager.Stop();
        tcpManager.Stop();
    }

    // Connections the device has been offered so far, each with its printer list read.
    std::size_t AcceptAllPending(std::vector<DeviceConnection>& kept, DeviceListener& listener) {
        while (listener.HasPending()) {
            kept.push_back(listener.Accept());
            EXPECT_TRUE(kept.back().ReadMessage().has_value());
        }
        return kept.size();
    }

    TraceRecorder trace;
    PrintCommand command;
    TCPXmlManager tcpManager{command, &trace};
    UDPXmlManager udpManager;
    UDPServer server;
    DeviceListener device{"127.0.0.2"};
    std::uint16_t port = 0;
};

} // namespace

TEST_F(DiscoveryTest, DatagramIsTracedAndAnsweredWithAConnection) {
    DatagramSender pad("127.0.0.2");
    ASSERT_TRUE(pad.Send(port, std::string("hello\0ignored", 13)));
    DeviceConnection connection = device.Accept();
    ASSERT_TRUE(connection.Valid());
    const auto list = connection.ReadMessage();
    ASSERT_TRUE(list.has_value());
    EXPECT_NE(list->find("<parameter type =\"PRN_NAME\">Office</parameter>"), std::string::npos);

    const auto lines = trace.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[0].find("UDP Server: "), std::string::npos);
    EXPECT_NE(lines[0].find(" is running on port " + std::to_string(port)), std::string::npos)
        << "the port the kernel chose";
    EXPECT_TRUE(trace.WaitFor("> 127.0.0.2 ("));
    bool found = false;
    for (const std::string& line : lines) {
        const auto at = line.find("> 127.0.0.2 (");
        if (at != std::string::npos) {
            found = line.substr(line.size() - 8) == ")> hello";
        }
    }
    EXPECT_TRUE(found) << "the payload is traced up to its first 0 byte after the sender";
}

TEST_F(DiscoveryTest, TwoDevicesHeardAtOnceBothGetAConnection) {
    std::optional<DeviceListener> secondDevice;
    ASSERT_TRUE(ListenOnSamePort(device, "127.0.0.3", secondDevice));
    DatagramSender padA("127.0.0.2");
    DatagramSender padB("127.0.0.3");
    ASSERT_TRUE(padA.Send(port, "a"));
    ASSERT_TRUE(padB.Send(port, "b"));
    DeviceConnection a = device.Accept();
    DeviceConnection b = secondDevice->Accept();
    EXPECT_TRUE(a.ReadMessage().has_value());
    EXPECT_TRUE(b.ReadMessage().has_value());
}

TEST_F(DiscoveryTest, EmptyDatagramsAndFloodsCostAtMostOneAttemptPerSenderAndSecond) {
    // An empty datagram, from a sender of its own, gives no connection attempt and no trace line.
    DeviceListener quiet("127.0.0.5", device.Port());
    ASSERT_TRUE(quiet.Valid());
    DatagramSender emptyPad("127.0.0.5");
    ASSERT_TRUE(emptyPad.Send(port, ""));

    DatagramSender pad("127.0.0.2");
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 500; ++i) {
        ASSERT_TRUE(pad.Send(port, "flood"));
    }
    ASSERT_TRUE(trace.WaitFor(" successfully connected with 127.0.0.2"));
    // Let the rest of the flood be handled, then count what reached the device. The kernel drops
    // datagrams while the socket is full, so the marker is repeated until it gets through; it comes
    // from another sender, as the flooder's own lines are held back by the trace limit.
    DatagramSender markerPad("127.0.0.6");
    const auto giveUp = std::chrono::steady_clock::now() + kGuard;
    do {
        ASSERT_TRUE(markerPad.Send(port, "marker-end"));
    } while (!trace.WaitFor(")> marker-end", 1, std::chrono::milliseconds(100)) &&
             std::chrono::steady_clock::now() < giveUp);
    ASSERT_GE(trace.Count(")> marker-end"), 1u);
    udpManager.Stop();
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count();
    std::vector<DeviceConnection> kept;
    const std::size_t attempts = AcceptAllPending(kept, device);
    EXPECT_GE(attempts, 1u);
    EXPECT_LE(attempts, static_cast<std::size_t>(seconds) + 1);
    EXPECT_FALSE(quiet.HasPending());
    EXPECT_EQ(trace.Count("127.0.0.5"), 0u);

    // Another device is still served after the flood.
    DeviceListener other("127.0.0.4", device.Port());
    ASSERT_TRUE(other.Valid());
    DatagramSender otherPad("127.0.0.4");
    ASSERT_TRUE(otherPad.Send(port, "me too"));
    DeviceConnection late = other.Accept();
    EXPECT_TRUE(late.ReadMessage().has_value());
}

TEST_F(DiscoveryTest, StoppingWhileDatagramsArriveAbandonsEveryAttemptAndServesAgainAfterwards) {
    std::atomic<bool> sending = true;
    std::thread flood([&] {
        std::vector<std::unique_ptr<DatagramSender>> pads;
        for (int i = 1; i <= 50; ++i) {
            pads.push_back(std::make_unique<DatagramSender>("127.0.2." + std::to_string(i)));
        }
        while (sending) {
            for (auto& pad : pads) {
                pad->Send(port, "hello");
            }
        }
    });
    // Each stop must return and leave nothing under way: a new attempt thread started during a stop
    // would never be joined.
    for (int i = 0; i < 50; ++i) {
        udpManager.Stop();
        EXPECT_EQ(udpManager.AttemptsInFlight(), 0u);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    sending = false;
    flood.join();
    server.Stop();
    udpManager.Stop();
    EXPECT_EQ(udpManager.AttemptsInFlight(), 0u);
    ASSERT_TRUE(server.Start("", std::to_string(port)));
    DatagramSender pad("127.0.0.2");
    ASSERT_TRUE(pad.Send(port, "hello"));
    DeviceConnection connection = device.Accept();
    EXPECT_TRUE(connection.ReadMessage().has_value());
}

TEST_F(DiscoveryTest, DeviceHeardAgainTooSoonIsConnectedOnceTheSecondIsOver) {
    // A tablet that printed, closed, and announces its next document at once.
    DatagramSender pad("127.0.0.2");
    ASSERT_TRUE(pad.Send(port, "first"));
    DeviceConnection first = device.Accept();
    ASSERT_TRUE(first.ReadMessage().has_value());
    ASSERT_TRUE(first.SendBytes(std::string("<commands><command type=\"PRF\"/></commands>") + '\0'));
    EXPECT_TRUE(first.WaitClosed());
    ASSERT_TRUE(pad.Send(port, "again"));
    ASSERT_TRUE(pad.Send(port, "and again"));
    // No second datagram needed; one connection for both.
    DeviceConnection second = device.Accept();
    ASSERT_TRUE(second.Valid());
    EXPECT_TRUE(second.ReadMessage().has_value());
    EXPECT_TRUE(trace.WaitFor(" successfully connected with 127.0.0.2", 2));
    std::this_thread::sleep_for(UDPXmlManager::kMinAttemptInterval);
    EXPECT_FALSE(device.HasPending()) << "datagrams heard while an attempt was to come add none";
}

TEST_F(DiscoveryTest, DevicesThatNeverAnswerDoNotHoldUpAWellBehavedOne) {
    // A hundred senders whose connections hang: each listens with a full queue, so the server's
    // connect neither succeeds nor fails until its time limit.
    HangingDevices hanging(100, 1, device.Port());
    ASSERT_TRUE(hanging.Ready());
    // Five datagrams a second from each while the well-behaved device asks once, in the middle.
    DatagramSender pad("127.0.0.2");
    for (int round = 0; round < 10; ++round) {
        for (auto& sender : hanging.Senders()) {
            sender->Send(port, "hang");
        }
        if (round == 5) {
            ASSERT_TRUE(pad.Send(port, "hello"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    DeviceConnection connection = device.Accept();
    ASSERT_TRUE(connection.ReadMessage().has_value());
    ASSERT_TRUE(trace.WaitFor(" successfully connected with 127.0.0.2"));
    for (const std::string& line : trace.Lines()) {
        EXPECT_EQ(line.find("successfully connected with 127.1.0."), std::string::npos) << line;
    }
}

TEST_F(DiscoveryTest, AFullTableOfHangingAttemptsNeverShutsOutARealDevice) {
    // Senders whose connections hang (as forged source addresses do: nobody answers the SYN), more
    // of them each second than the table of attempts holds, while a real device announces itself
    // once a second.
    HangingDevices hanging(300, 10, device.Port());
    ASSERT_TRUE(hanging.Ready());
    auto& senders = hanging.Senders();
    std::atomic<bool> forging = true;
    std::thread forger([&] {
        // 300 a second, spread over the second as a flooding host sends them.
        for (std::size_t i = 0; forging; ++i) {
            senders[i % senders.size()]->Send(port, "forged");
            std::this_thread::sleep_for(std::chrono::microseconds(3333));
        }
    });
    // Let the table fill first.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    DatagramSender pad("127.0.0.2");
    int served = 0;
    for (int round = 0; round < 5; ++round) {
        const auto announced = std::chrono::steady_clock::now();
        ASSERT_TRUE(pad.Send(port, "hello"));
        DeviceConnection connection = device.AcceptWithin(UDPXmlManager::kMinAttemptInterval);
        served += connection.Valid() && connection.ReadMessage().has_value() ? 1 : 0;
        std::this_thread::sleep_until(announced + UDPXmlManager::kMinAttemptInterval);
    }
    forging = false;
    forger.join();
    EXPECT_GE(served, 4);
}

TEST_F(DiscoveryTest, SendersBeyondARouterAreServedOnlyWhenTheSettingsAllowIt) {
    // This machine's subnets, as the test sees them: 127.0.0.3 lies beyond a router.
    server.Stop();
    server.SetSubnetSource([] { return std::vector<LocalSubnet>{{0x7F000002u, 0xFFFFFFFFu}}; });
    ASSERT_TRUE(server.Start("", std::to_string(port)));
    std::optional<DeviceListener> routed;
    ASSERT_TRUE(ListenOnSamePort(device, "127.0.0.3", routed));
    DatagramSender far("127.0.0.3");
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(far.Send(port, "hello from afar"));
    }
    DatagramSender near("127.0.0.2");
    ASSERT_TRUE(near.Send(port, "hello"));
    DeviceConnection served = device.Accept();
    EXPECT_TRUE(served.ReadMessage().has_value());
    EXPECT_FALSE(routed->AcceptWithin(std::chrono::milliseconds(200)).Valid())
        << "the routed sender is not served";
    EXPECT_EQ(trace.Count("127.0.0.3 is not on a local network of this computer, not served"), 1u)
        << "one line a minute at most";
    EXPECT_EQ(trace.Count("hello from afar"), 0u);

    AppSettings::Instance().allowRouted = true;
    ASSERT_TRUE(far.Send(port, "hello again"));
    DeviceConnection allowed = routed->Accept();
    EXPECT_TRUE(allowed.ReadMessage().has_value());
    AppSettings::Instance().allowRouted = false;
}

TEST(MacToAddressLookup, MatchesExactlyWithLetterCase) {
    EXPECT_EQ(MacToAddress(""), "");
    EXPECT_EQ(MacToAddress("00-00-5E-00-53-FF"), "");
    for (const NetworkAdapter& adapter : ListNetworkAdapters()) {
        if (adapter.mac.empty() || adapter.addresses.empty()) {
            continue;
        }
        EXPECT_EQ(MacToAddress(adapter.mac), adapter.addresses.front());
        std::string lower = adapter.mac;
        for (char& c : lower) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (lower != adapter.mac) {
            EXPECT_EQ(MacToAddress(lower), "");
        }
    }
}

TEST(NetworkServiceStart, ChoosesTheAddressAndASecondServerOnThePortFails) {
    AppSettings& settings = AppSettings::Instance();
    settings.mac = "00-00-5E-00-53-FF"; // no such adapter: the first local address is chosen
    settings.local_address = "192.0.2.9";
    const auto addresses = CSocketComm::LocalAddressList();

    TraceRecorder trace;
    NetworkService service(&trace, nullptr);
    // The kernel chooses the port.
    ASSERT_TRUE(service.StartNetworkService("0"));
    const std::string port = std::to_string(service.LocalPort());
    ASSERT_TRUE(service.StartNetworkService(port)) << "a repeated start replaces its own socket";
    if (!addresses.empty()) {
        EXPECT_EQ(settings.local_address, addresses.front());
        EXPECT_TRUE(trace.WaitFor(", Address: " + addresses.front() + " is running on port " + port));
    }

    TraceRecorder secondTrace;
    NetworkService second(&secondTrace, nullptr);
    EXPECT_FALSE(second.StartNetworkService(port));
    EXPECT_TRUE(secondTrace.WaitFor("Unable to start UDP server on " + settings.local_address + " port " +
                                    port + ": Address already in use"));
    service.Stop();
    EXPECT_TRUE(second.StartNetworkService(port)) << "the port is free again after the stop";
}

TEST(NetworkServiceStart, RestartsWhileDevicesPrintAnswerEveryDevice) {
    // The settings window's OK and the Connect button start the service again while devices print;
    // the sanitizer tree runs this under the thread sanitizer too.
    AppSettings& settings = AppSettings::Instance();
    settings.mac = "";
    settings.SetPrinters({"Office"});
    TraceRecorder trace;
    NetworkService service(&trace, nullptr);
    DeviceListener device("127.0.0.2");
    ASSERT_TRUE(device.Valid());
    settings.pad_port = device.PortText();
    ASSERT_TRUE(service.StartNetworkService("0"));
    const std::uint16_t port = service.LocalPort();

    std::atomic<int> answered = 0;
    std::atomic<bool> printing = true;
    std::thread devicesPrinting([&] {
        DatagramSender pad("127.0.0.2");
        while (printing) {
            pad.Send(port, "hello");
            DeviceConnection connection = device.AcceptWithin(std::chrono::milliseconds(1500));
            if (!connection.Valid() || !connection.ReadMessage()) {
                continue;
            }
            // A print that fails at once (the content is no archive) still gets its answer.
            connection.SendBytes("<commands><command type=\"PFL\"><parameters>"
                                 "<parameter type=\"FILE_CONTENT\">YWJj</parameter>"
                                 "<parameter type=\"FILE_NAME\">a.7z</parameter>"
                                 "<parameter type=\"PRINTER\">Office</parameter>"
                                 "<parameter type=\"FILE_PREVIEW\">a.htm</parameter>"
                                 "</parameters></command></commands>" +
                                 std::string(1, '\0'));
            if (const auto answer = connection.ReadMessage();
                answer && answer->find("type=\"PRP\"") != std::string::npos) {
                ++answered;
            }
            std::this_thread::sleep_for(UDPXmlManager::kMinAttemptInterval / 4);
        }
    });
    for (int restart = 0; restart < 12; ++restart) {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        if (restart % 3 == 2) {
            service.Stop();
        }
        ASSERT_TRUE(service.StartNetworkService(std::to_string(port)));
    }
    printing = false;
    devicesPrinting.join();
    EXPECT_GE(answered, 1);
    settings.pad_port = AppSettings::kDefaultPadPort;
}
