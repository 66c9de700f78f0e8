#include "config/AppSettings.h"
#include "core/NetTestDevice.h"
#include "net/MacToAddress.h"
#include "net/NetworkService.h"
#include "net/TCPXmlManager.h"
#include "net/UDPServer.h"
#include "net/UDPXmlManager.h"
#include "platform/NetworkAdapters.h"
#include "protocol/PrintCommand.h"

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
        tcpManager.SetCommand(&command);
        tcpManager.SetTraceSink(&trace);
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
    TCPXmlManager tcpManager;
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
    EXPECT_NE(lines[0].find(" is running on port " + std::to_string(0)), std::string::npos);
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

TEST_F(DiscoveryTest, StoppingWhileDatagramsArriveEndsEveryConnectionAttemptThread) {
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
    // Each stop must return: a new attempt thread started during a stop would never be joined.
    for (int i = 0; i < 50; ++i) {
        udpManager.Stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    sending = false;
    flood.join();
    SUCCEED();
}

TEST_F(DiscoveryTest, DevicesThatNeverAnswerDoNotHoldUpAWellBehavedOne) {
    // A hundred senders whose connections hang: each listens with a full queue, so the server's
    // connect neither succeeds nor fails until its time limit.
    constexpr int kHanging = 100;
    std::vector<Fd> listeners;
    std::vector<Fd> fillers;
    std::vector<DatagramSender> senders;
    for (int i = 1; i <= kHanging; ++i) {
        const std::string host = "127.0.1." + std::to_string(i);
        Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address = MakeAddress(host, device.Port());
        ASSERT_EQ(bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(listen(listener.Get(), 0), 0);
        Fd filler(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        ASSERT_EQ(connect(filler.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        listeners.push_back(std::move(listener));
        fillers.push_back(std::move(filler));
        senders.emplace_back(host);
    }
    // Five datagrams a second from each while the well-behaved device asks once, in the middle.
    DatagramSender pad("127.0.0.2");
    for (int round = 0; round < 10; ++round) {
        for (DatagramSender& sender : senders) {
            sender.Send(port, "hang");
        }
        if (round == 5) {
            ASSERT_TRUE(pad.Send(port, "hello"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    DeviceConnection connection = device.Accept();
    ASSERT_TRUE(connection.ReadMessage().has_value());
    ASSERT_TRUE(trace.WaitFor(" successfully connected with 127.0.0.2"));
    // Served while every hanging attempt was still under way, each sender tried once.
    EXPECT_EQ(trace.Count(" unable to communicate with 127.0.1."), 0u);
    for (const std::string& line : trace.Lines()) {
        EXPECT_EQ(line.find("successfully connected with 127.0.1."), std::string::npos) << line;
    }
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

    // A free port, found by binding and letting go.
    std::string port;
    {
        UDPServer probe;
        ASSERT_TRUE(probe.Start("", "0"));
        port = std::to_string(probe.LocalPort());
    }
    TraceRecorder trace;
    NetworkService service;
    service.SetTraceSink(&trace);
    ASSERT_TRUE(service.StartNetworkService(port));
    if (!addresses.empty()) {
        EXPECT_EQ(settings.local_address, addresses.front());
        EXPECT_TRUE(trace.WaitFor(", Address: " + addresses.front() + " is running on port " + port));
    }
    EXPECT_TRUE(service.StartNetworkService(port)) << "a repeated start replaces its own socket";

    TraceRecorder secondTrace;
    NetworkService second;
    second.SetTraceSink(&secondTrace);
    EXPECT_FALSE(second.StartNetworkService(port));
    EXPECT_TRUE(
        secondTrace.WaitFor("Unable to start UDP server on " + settings.local_address + " port " + port +
                            ": Address already in use"));
    service.Stop();
    EXPECT_TRUE(second.StartNetworkService(port)) << "the port is free again after the stop";
}
