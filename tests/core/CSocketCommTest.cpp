#include "net/CSocketComm.h"
#include "core/NetTestDevice.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <mutex>

using namespace nettest;

namespace {

// Records what the watch thread hands on.
class RecordingSocket : public CSocketComm {
public:
    ~RecordingSocket() override { Stop(); }

    struct Burst {
        std::string bytes;
    };

    bool WaitForBursts(std::size_t count) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, kGuard, [&] { return bursts.size() >= count; });
    }
    bool WaitForEvents(std::size_t count) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, kGuard, [&] { return events.size() >= count; });
    }
    std::vector<Burst> Bursts() {
        std::lock_guard guard(lock);
        return bursts;
    }
    std::vector<int> Events() {
        std::lock_guard guard(lock);
        return events;
    }
    bool WaitEnded() {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, kGuard, [&] { return ended; });
    }

protected:
    void HandleReceived(const char* data, std::size_t length) override {
        std::lock_guard guard(lock);
        bursts.push_back({std::string(data, length)});
        changed.notify_all();
    }
    void HandleSocketEvent(int code) override {
        std::lock_guard guard(lock);
        events.push_back(code);
        changed.notify_all();
    }
    void HandleWatchEnded() override {
        std::lock_guard guard(lock);
        ended = true;
        changed.notify_all();
    }

private:
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Burst> bursts;
    std::vector<int> events;
    bool ended = false;
};

sockaddr_in SenderOf(const std::string& burst) {
    sockaddr_in sender{};
    std::memcpy(&sender, burst.data(), sizeof sender);
    return sender;
}

} // namespace

TEST(SocketAddressHelpers, PortTextsAddressTextsAndAddressBuilding) {
    EXPECT_EQ(CSocketComm::PortFromText("9100"), 9100);
    EXPECT_EQ(CSocketComm::PortFromText("2001abc"), 2001);
    EXPECT_EQ(CSocketComm::PortFromText("70000"), static_cast<std::uint16_t>(70000));
    // Too large for an int: held at the largest int before the cut to 16 bits, never wrapped.
    EXPECT_EQ(CSocketComm::PortFromText("4294969297"), 65535);
    EXPECT_EQ(CSocketComm::PortFromText("99999999999999999999999"), 65535);
    EXPECT_EQ(CSocketComm::PortFromText("2147483647"), 65535);
    EXPECT_EQ(CSocketComm::PortFromText("http"), 80);
    EXPECT_EQ(CSocketComm::PortFromText("no-such-service-here"), 0);
    EXPECT_EQ(CSocketComm::PortFromText(""), 0);

    EXPECT_EQ(CSocketComm::AddressFromText(std::string("255.255.255.255")), 0xFFFFFFFFu);
    EXPECT_EQ(CSocketComm::AddressFromText(std::string("127.0.0.2")), 0x7F000002u);
    EXPECT_EQ(CSocketComm::AddressFromText(std::string("localhost")), 0x7F000001u);
    EXPECT_EQ(CSocketComm::AddressFromText(std::string("no-such-host.invalid")), 0xFFFFFFFFu);

    sockaddr_in address{};
    ASSERT_TRUE(CSocketComm::FillAddress(address, std::string("10.1.2.3"), "2000"));
    EXPECT_EQ(address.sin_family, AF_INET);
    EXPECT_EQ(ntohs(address.sin_port), 2000);
    EXPECT_EQ(CSocketComm::AddressText(address), "10.1.2.3");
    EXPECT_FALSE(CSocketComm::FillAddress(address, std::string("0.0.0.0"), "0"));

    EXPECT_FALSE(CSocketComm::LocalHostName().empty());
    // A host named with an umlaut keeps it: the kernel's UTF-8 name is the program's own text, and
    // the wire code page gets its one byte. Renamed in a namespace of its own, in a child process.
    const pid_t child = fork();
    if (child == 0) {
        const std::string name = "drucker-b\xC3\xBCro";
        const bool renamed = unshare(CLONE_NEWUTS) == 0 && sethostname(name.data(), name.size()) == 0;
        _exit(!renamed ? 2 : CSocketComm::LocalHostName() == name ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    for (const std::string& local : CSocketComm::LocalAddressList()) {
        EXPECT_NE(local.rfind("127.", 0), 0u) << "the loopback is not a local address of the network";
    }
}

TEST(DatagramSocket, EachDatagramIsItsOwnBurstWithItsSender) {
    RecordingSocket server;
    server.SetPrefixAddress(true);
    ASSERT_TRUE(server.CreateDatagramSocket(std::nullopt, "0"));
    ASSERT_TRUE(server.StartWatch());
    const std::uint16_t port = server.LocalPort();

    // Sent back to back, so they sit in the socket together: still two requests.
    DatagramSender deviceA("127.0.0.2");
    DatagramSender deviceB("127.0.0.3");
    ASSERT_TRUE(deviceA.Send(port, "first"));
    ASSERT_TRUE(deviceB.Send(port, "second"));
    ASSERT_TRUE(deviceA.Send(port, ""));
    ASSERT_TRUE(server.WaitForBursts(2));
    ASSERT_TRUE(server.WaitForEvents(1));

    const auto bursts = server.Bursts();
    ASSERT_EQ(bursts.size(), 2u);
    EXPECT_EQ(bursts[0].bytes.substr(CSocketComm::kAddressSize), "first");
    EXPECT_EQ(CSocketComm::AddressText(SenderOf(bursts[0].bytes)), "127.0.0.2");
    EXPECT_EQ(bursts[1].bytes.substr(CSocketComm::kAddressSize), "second");
    EXPECT_EQ(CSocketComm::AddressText(SenderOf(bursts[1].bytes)), "127.0.0.3");
    EXPECT_EQ(server.Events(), std::vector<int>{CSocketComm::kEmptyDatagram});

    // The empty datagram came from a known peer: it moved to the end, and nobody is listed twice.
    const auto peers = server.Peers();
    ASSERT_EQ(peers.size(), 2u);
    EXPECT_EQ(CSocketComm::AddressText(peers[0]), "127.0.0.3");
    EXPECT_EQ(CSocketComm::AddressText(peers[1]), "127.0.0.2");
    server.Stop();
    EXPECT_TRUE(server.Peers().empty());
}

TEST(DatagramSocket, PeersFromEverNewSendersAreBounded) {
    RecordingSocket server;
    ASSERT_TRUE(server.CreateDatagramSocket(std::nullopt, "0"));
    // Read by hand, one datagram at a time, so that none is dropped by a full socket.
    const std::size_t senders = CSocketComm::kMaxPeers + 10;
    char buffer[16];
    for (std::size_t i = 0; i < senders; ++i) {
        const std::string from = "127.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
        ASSERT_TRUE(SendDatagram(from, server.LocalPort(), "x"));
        ASSERT_EQ(server.ReadData(buffer, sizeof buffer), 1);
    }
    const auto peers = server.Peers();
    ASSERT_EQ(peers.size(), CSocketComm::kMaxPeers);
    EXPECT_EQ(CSocketComm::AddressText(peers.front()), "127.0.0.11") << "the oldest are forgotten";
    EXPECT_EQ(CSocketComm::AddressText(peers.back()), "127.0.4.34");
}

TEST(DatagramSocket, EmptyDatagramWithoutPrefixIsAReadFailureAndTheLoopGoesOn) {
    RecordingSocket server;
    ASSERT_TRUE(server.CreateDatagramSocket(std::nullopt, "0"));
    ASSERT_TRUE(server.StartWatch());
    ASSERT_TRUE(SendDatagram("127.0.0.1", server.LocalPort(), ""));
    ASSERT_TRUE(server.WaitForEvents(1));
    ASSERT_TRUE(SendDatagram("127.0.0.1", server.LocalPort(), "still here"));
    ASSERT_TRUE(server.WaitForBursts(1));
    EXPECT_EQ(server.Events(), std::vector<int>{CSocketComm::kReadFailed});
    EXPECT_EQ(server.Bursts()[0].bytes, "still here");
}

TEST(DatagramSocket, BindingRules) {
    RecordingSocket first;
    ASSERT_TRUE(first.CreateDatagramSocket(std::string("127.0.0.1"), "0"));
    EXPECT_FALSE(first.CreateDatagramSocket(std::nullopt, "0")) << "already open";

    // A second server on the same port would steal the first one's datagrams.
    RecordingSocket second;
    EXPECT_FALSE(second.CreateDatagramSocket(std::nullopt, std::to_string(first.LocalPort())));

    RecordingSocket foreign;
    EXPECT_FALSE(foreign.CreateDatagramSocket(std::string("192.0.2.77"), "0")) << "not an address of ours";
}

TEST(DatagramSocket, ChosenAddressStillServesTheLoopback) {
    const auto addresses = CSocketComm::LocalAddressList();
    if (addresses.empty()) {
        GTEST_SKIP() << "no network interface besides the loopback";
    }
    RecordingSocket server;
    server.SetPrefixAddress(true);
    ASSERT_TRUE(server.CreateDatagramSocket(addresses.front(), "0"));
    ASSERT_TRUE(server.StartWatch());
    ASSERT_TRUE(SendDatagram("127.0.0.5", server.LocalPort(), "pad"));
    ASSERT_TRUE(server.WaitForBursts(1));
    EXPECT_EQ(server.Bursts()[0].bytes.substr(CSocketComm::kAddressSize), "pad");
}

TEST(DatagramSocket, WriteToAllOnesReachesEveryKnownPeer) {
    RecordingSocket server;
    server.SetPrefixAddress(true);
    ASSERT_TRUE(server.CreateDatagramSocket(std::nullopt, "0"));
    ASSERT_TRUE(server.StartWatch());

    DatagramSender deviceA("127.0.0.2");
    DatagramSender deviceB("127.0.0.3");
    ASSERT_TRUE(deviceA.Send(server.LocalPort(), "hi"));
    ASSERT_TRUE(deviceB.Send(server.LocalPort(), "hi"));
    ASSERT_TRUE(server.WaitForBursts(2));

    std::string message(CSocketComm::kAddressSize, '\0');
    sockaddr_in everyone = MakeAddress("255.255.255.255", 0);
    std::memcpy(message.data(), &everyone, sizeof everyone);
    message += "news";
    EXPECT_EQ(server.WriteData(message.data(), message.size()), 4);
    for (const DatagramSender* device : {&deviceA, &deviceB}) {
        ASSERT_TRUE(WaitReadable(device->Get()));
        char received[16] = {};
        EXPECT_EQ(recv(device->Get(), received, sizeof received, 0), 4);
        EXPECT_STREQ(received, "news");
    }
}

TEST(StreamSocket, PeerClosingGivesOneReadFailureAndEndsTheThread) {
    DeviceListener device("127.0.0.1");
    RecordingSocket client;
    ASSERT_TRUE(client.ConnectTo("127.0.0.1", device.PortText()));
    EXPECT_FALSE(client.ConnectTo("127.0.0.1", device.PortText())) << "already open";
    ASSERT_TRUE(client.StartWatch());
    DeviceConnection connection = device.Accept();
    ASSERT_TRUE(connection.Valid());

    ASSERT_TRUE(connection.SendBytes("hello"));
    ASSERT_TRUE(client.WaitForBursts(1));
    EXPECT_EQ(client.Bursts()[0].bytes, "hello");
    connection.Close();
    ASSERT_TRUE(client.WaitEnded());
    EXPECT_EQ(client.Events(), std::vector<int>{CSocketComm::kReadFailed});
}

TEST(StreamSocket, ConnectingToNobodyFails) {
    DeviceListener closedPort("127.0.0.1");
    const std::string port = closedPort.PortText();
    closedPort = DeviceListener("127.0.0.1", 0); // nothing listens on `port` any more
    RecordingSocket client;
    EXPECT_FALSE(client.ConnectTo("127.0.0.1", port));
    EXPECT_FALSE(client.IsOpen());
}

TEST(StreamSocket, StopEndsAnIdleWatchThreadAndAReaderThatNeverReadsCannotHoldAWrite) {
    DeviceListener device("127.0.0.1");
    RecordingSocket client;
    client.SetSendTimeout(std::chrono::milliseconds(200));
    ASSERT_TRUE(client.ConnectTo("127.0.0.1", device.PortText()));
    ASSERT_TRUE(client.StartWatch());
    DeviceConnection silent = device.Accept();
    ASSERT_TRUE(silent.Valid());

    // Far more than the socket buffers hold; the device never reads.
    const std::string flood(64 * 1024 * 1024, 'x');
    EXPECT_EQ(client.WriteData(flood.data(), flood.size()), -1);

    client.Stop(); // returns although the thread was blocked waiting for data
    EXPECT_TRUE(client.WaitEnded());
    EXPECT_FALSE(client.IsOpen());
    EXPECT_EQ(client.WriteData("x", 1), 0);
}
