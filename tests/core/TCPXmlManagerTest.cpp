#include "net/TCPXmlManager.h"
#include "config/AppSettings.h"
#include "core/NetTestDevice.h"
#include "net/CSocketComm.h"
#include "net/TCPClient.h"
#include "net/TraceLimiter.h"
#include "protocol/PrintCommand.h"
#include "protocol/ReceiveBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "support/WaitUntil.h"

using namespace nettest;

namespace {

const std::string kClose = std::string("<commands><command type=\"PRF\"/></commands>") + '\0';

// A handler wired as the service wires it, with its connections' trace recorded.
class TCPXmlManagerTest : public ::testing::Test {
protected:
    void SetUp() override { AppSettings::Instance().SetPrinters({"Office", "Lab"}); }

    // Connects to the device listening on `host` and returns the device's side, PLS read.
    DeviceConnection Connect(DeviceListener& device, const std::string& host,
                             std::string* printerList = nullptr) {
        manager.SetDevicePort(device.PortText());
        EXPECT_TRUE(manager.ConnectToDevice(host));
        DeviceConnection connection = device.Accept();
        const auto list = connection.ReadMessage();
        EXPECT_TRUE(list.has_value());
        if (printerList != nullptr && list.has_value()) {
            *printerList = *list;
        }
        return connection;
    }

    // The id the trace gives the connection made with `host`.
    std::string IdConnectedWith(const std::string& host) {
        const std::string marker = " successfully connected with " + host;
        for (const std::string& line : trace.Lines()) {
            const auto at = line.find(marker);
            if (at != std::string::npos && at + marker.size() == line.size()) {
                const auto begin = line.find("> ") + 2;
                return line.substr(begin, at - begin);
            }
        }
        return {};
    }

    bool WaitForConnectionCount(std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + kGuard;
        while (manager.ConnectionCount() != count) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    TraceRecorder trace;
    PrintCommand command;
    TCPXmlManager manager{command, &trace};
};

} // namespace

TEST_F(TCPXmlManagerTest, ConnectsSendsThePrinterListAndClosesOnRequest) {
    DeviceListener device("127.0.0.1");
    std::string list;
    DeviceConnection connection = Connect(device, "127.0.0.1", &list);
    const std::string id = IdConnectedWith("127.0.0.1");
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(id.rfind("ID", 0), 0u);
    EXPECT_NE(list.find("<parameter type =\"PRN_NAME\">Office</parameter>"
                        "<parameter type =\"PRN_NAME\">Lab</parameter>"),
              std::string::npos);
    EXPECT_EQ(list.rfind("<commands><command type=\"PLS\"><parameters><parameter type =\"HOST_NAME\">", 0),
              0u);
    EXPECT_TRUE(trace.WaitFor(id + " sent [" + list + "] to 127.0.0.1"));
    EXPECT_EQ(manager.ConnectionCount(), 1u);

    ASSERT_TRUE(connection.SendBytes(kClose));
    EXPECT_TRUE(connection.WaitClosed());
    EXPECT_TRUE(trace.WaitFor(id + " closing connection."));
    EXPECT_TRUE(WaitForConnectionCount(0)) << "a closed connection is released at once";

    // The same device heard again gets a new connection under a new name.
    Connect(device, "127.0.0.1");
    EXPECT_EQ(trace.Count(" successfully connected with 127.0.0.1"), 2u);
    std::vector<std::string> ids;
    for (const std::string& line : trace.Lines()) {
        const auto at = line.find(" successfully connected with 127.0.0.1");
        if (at != std::string::npos) {
            ids.push_back(line.substr(line.find("> ") + 2, at - line.find("> ") - 2));
        }
    }
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_NE(ids[0], ids[1]);
}

TEST_F(TCPXmlManagerTest, InterleavedBytesOfTwoDevicesStayApart) {
    DeviceListener deviceA("127.0.0.2");
    std::optional<DeviceListener> deviceB;
    ASSERT_TRUE(ListenOnSamePort(deviceA, "127.0.0.3", deviceB));
    DeviceConnection a = Connect(deviceA, "127.0.0.2");
    DeviceConnection b = Connect(*deviceB, "127.0.0.3");
    const std::string idA = IdConnectedWith("127.0.0.2");
    const std::string idB = IdConnectedWith("127.0.0.3");
    ASSERT_NE(idA, idB);

    ASSERT_TRUE(a.SendBytes("<commands><command type=\"P"));
    ASSERT_TRUE(trace.WaitFor(idA + " : uncompleted packet received."));
    ASSERT_TRUE(b.SendBytes("<commands><comm"));
    ASSERT_TRUE(trace.WaitFor(idB + " : uncompleted packet received."));
    ASSERT_TRUE(a.SendBytes(std::string("RQ\"/></commands>") + '\0'));
    ASSERT_TRUE(b.SendBytes(std::string("and type=\"PRF\"/></commands>") + '\0'));

    EXPECT_TRUE(b.WaitClosed());
    EXPECT_TRUE(trace.WaitFor(idB + " closing connection."));
    EXPECT_EQ(trace.Count(" : error loading XML."), 0u) << "no message was made of both devices' bytes";
    EXPECT_EQ(trace.Count(idA + " closing connection."), 0u);

    ASSERT_TRUE(a.SendBytes(kClose));
    EXPECT_TRUE(a.WaitClosed());
}

TEST_F(TCPXmlManagerTest, BadMessagesAreTracedAndTheConnectionGoesOn) {
    DeviceListener device("127.0.0.1");
    DeviceConnection connection = Connect(device, "127.0.0.1");
    const std::string id = IdConnectedWith("127.0.0.1");

    // Several messages in one burst are each carried out.
    ASSERT_TRUE(connection.SendBytes(std::string("<commands><command") + '\0' + "<commands/>" + '\0' +
                                     "<commands><command type=\"PFL\"/></commands>" + '\0' +
                                     "<commands><command type=\"PRQ\"/></commands>" + '\0'));
    EXPECT_TRUE(trace.WaitFor(id + " : error loading XML."));
    EXPECT_TRUE(trace.WaitFor(id + " : error parsing XML."));
    EXPECT_TRUE(trace.WaitFor(id + " parse data error."));

    const std::string print = "<commands><command type=\"PFL\"><parameters>"
                              "<parameter type=\"FILE_CONTENT\">YWJj</parameter>"
                              "<parameter type=\"FILE_NAME\">report.7z</parameter>"
                              "<parameter type=\"PRINTER\">Office</parameter>"
                              "<parameter type=\"FILE_PREVIEW\">report.pdf</parameter>"
                              "</parameters></command></commands>";
    // Split over several receptions: acted on once, when the last part arrives.
    ASSERT_TRUE(connection.SendBytes(print.substr(0, 40)));
    ASSERT_TRUE(trace.WaitFor(id + " : uncompleted packet received."));
    ASSERT_TRUE(connection.SendBytes(print.substr(40) + '\0'));
    EXPECT_TRUE(trace.WaitFor(id + " received report.7z"));

    ASSERT_TRUE(connection.SendBytes(kClose));
    EXPECT_TRUE(connection.WaitClosed());
}

TEST_F(TCPXmlManagerTest, OversizedMessageIsAnsweredAtOnceAndTheNextOneIsRead) {
    DeviceListener device("127.0.0.1");
    DeviceConnection connection = Connect(device, "127.0.0.1");
    const std::string id = IdConnectedWith("127.0.0.1");

    // The device hears that its message will not print before it has even sent all of it.
    ASSERT_TRUE(connection.SendBytes(std::string(ReceiveBuffer::kReceiveBufferLimit + 1, 'A')));
    EXPECT_EQ(connection.ReadMessage(),
              "<commands><command type=\"PRP\"><parameters><parameter type =\"RESULT\">4"
              "</parameter><error reason =\"RESULT\">0</error></parameters></command></commands>");
    EXPECT_TRUE(trace.WaitFor(id + " : message too long, refused."));
    // The rest of it up to its end is skipped, and the connection goes on.
    ASSERT_TRUE(connection.SendBytes(std::string(3 * 1024 * 1024, 'A') + '\0' + kClose));
    EXPECT_TRUE(trace.WaitFor(id + " closing connection."));
    EXPECT_TRUE(connection.WaitClosed());
    EXPECT_EQ(trace.Count(" : message too long, refused."), 1u);
}

TEST_F(TCPXmlManagerTest, DeviceThatGoesAwayIsReleasedAndItsUnfinishedMessageDropped) {
    DeviceListener deviceA("127.0.0.2");
    std::optional<DeviceListener> deviceB;
    ASSERT_TRUE(ListenOnSamePort(deviceA, "127.0.0.3", deviceB));
    DeviceConnection a = Connect(deviceA, "127.0.0.2");
    DeviceConnection b = Connect(*deviceB, "127.0.0.3");
    const std::string idA = IdConnectedWith("127.0.0.2");
    const std::string idB = IdConnectedWith("127.0.0.3");

    ASSERT_TRUE(a.SendBytes("<commands><command type=\"PFL\">"));
    ASSERT_TRUE(trace.WaitFor(idA + " : uncompleted packet received."));
    a.Close();
    EXPECT_TRUE(trace.WaitFor(idA + " connection closed"));
    EXPECT_TRUE(WaitForConnectionCount(1));

    // Nothing of the first device's message survives into the second's.
    ASSERT_TRUE(b.SendBytes(kClose));
    EXPECT_TRUE(trace.WaitFor(idB + " closing connection."));
    EXPECT_TRUE(WaitForConnectionCount(0));
}

TEST_F(TCPXmlManagerTest, MessageSentJustBeforeTheDeviceClosesIsStillRead) {
    DeviceListener device("127.0.0.2");
    DeviceConnection connection = Connect(device, "127.0.0.2");
    const std::string id = IdConnectedWith("127.0.0.2");
    ASSERT_TRUE(connection.SendBytes(std::string("<commands><command/></commands>") + '\0'));
    shutdown(connection.Get(), SHUT_WR);
    EXPECT_TRUE(trace.WaitFor(id + " : error parsing XML."));
    EXPECT_TRUE(trace.WaitFor(id + " connection closed"));
}

TEST_F(TCPXmlManagerTest, UnreachableDeviceLeavesNoConnection) {
    std::string port;
    {
        DeviceListener gone("127.0.0.1");
        port = gone.PortText();
    }
    manager.SetDevicePort(port);
    EXPECT_FALSE(manager.ConnectToDevice("127.0.0.1"));
    EXPECT_TRUE(trace.WaitFor(" unable to communicate with 127.0.0.1"));
    EXPECT_EQ(manager.ConnectionCount(), 0u);
}

TEST_F(TCPXmlManagerTest, AtTheBoundTheAddressHoldingMostMakesRoomAndADripperGoesBeforeAQuietDevice) {
    manager.SetMaxConnections(4);
    DeviceListener device("127.0.0.2");
    std::optional<DeviceListener> attacker;
    std::optional<DeviceListener> newcomer;
    ASSERT_TRUE(ListenOnSamePort(device, "127.0.0.3", attacker));
    ASSERT_TRUE(ListenOnSamePort(device, "127.0.0.4", newcomer));
    // A real device waits quietly between its printer list and its print, the longest idle of all.
    DeviceConnection quiet = Connect(device, "127.0.0.2");
    // Another address holds the rest, each connection kept alive by an unfinished message.
    std::vector<DeviceConnection> drips;
    for (int i = 0; i < 3; ++i) {
        drips.push_back(Connect(*attacker, "127.0.0.3"));
        ASSERT_TRUE(drips.back().SendBytes("<"));
    }
    ASSERT_TRUE(trace.WaitFor(" : uncompleted packet received.", 3));
    // Each new connection at the bound is paid for by the address holding the most.
    std::vector<DeviceConnection> newcomers;
    for (int i = 0; i < 2; ++i) {
        newcomers.push_back(Connect(*newcomer, "127.0.0.4"));
        EXPECT_TRUE(trace.WaitFor(" too many open connections, closing connection.",
                                  static_cast<std::size_t>(i) + 1));
    }
    // Two of the three dripping connections went, the quiet device did not.
    EXPECT_TRUE(WaitUntil([&] {
        return std::count_if(drips.begin(), drips.end(),
                             [](const DeviceConnection& c) { return c.ClosedNow(); }) == 2;
    }));
    EXPECT_FALSE(quiet.ClosedNow());
    EXPECT_TRUE(WaitForConnectionCount(4));
    // The quiet device is still there and prints.
    ASSERT_TRUE(quiet.SendBytes(kClose));
    EXPECT_TRUE(trace.WaitFor(IdConnectedWith("127.0.0.2") + " closing connection."));

    // Within one address, at its own bound: an unfinished message goes before a quiet connection.
    manager.SetMaxConnections(TCPXmlManager::kMaxConnections);
    std::vector<DeviceConnection> own;
    for (std::size_t i = 0; i < TCPXmlManager::kMaxConnectionsPerAddress - 1; ++i) {
        own.push_back(Connect(device, "127.0.0.2"));
    }
    ASSERT_TRUE(own.back().SendBytes("<"));
    ASSERT_TRUE(trace.WaitFor(" : uncompleted packet received.", 4));
    own.push_back(Connect(device, "127.0.0.2"));
    own.push_back(Connect(device, "127.0.0.2"));
    EXPECT_TRUE(own[TCPXmlManager::kMaxConnectionsPerAddress - 2].WaitClosed());
    EXPECT_TRUE(trace.WaitFor(" too many connections from this device, closing connection."));
}

TEST_F(TCPXmlManagerTest, WhatOneDeviceMayHoldIsBounded) {
    // Connections per device: the fifth from one address makes room by closing that device's oldest
    // idle one; another device's connection is not touched.
    DeviceListener device("127.0.0.2");
    std::optional<DeviceListener> other;
    ASSERT_TRUE(ListenOnSamePort(device, "127.0.0.3", other));
    DeviceConnection bystander = Connect(*other, "127.0.0.3");
    std::vector<DeviceConnection> own;
    for (std::size_t i = 0; i < TCPXmlManager::kMaxConnectionsPerAddress + 1; ++i) {
        own.push_back(Connect(device, "127.0.0.2"));
    }
    EXPECT_TRUE(own.front().WaitClosed());
    EXPECT_TRUE(trace.WaitFor(" too many connections from this device, closing connection."));
    EXPECT_TRUE(WaitForConnectionCount(TCPXmlManager::kMaxConnectionsPerAddress + 1));

    // The byte budget of unfinished messages: past it, the connection holding the most goes.
    manager.SetPendingBudget(1024 * 1024);
    ASSERT_TRUE(own[1].SendBytes(std::string(600 * 1024, 'a')));
    ASSERT_TRUE(bystander.SendBytes(std::string(300 * 1024, 'b')));
    ASSERT_TRUE(trace.WaitFor(" : uncompleted packet received.", 2));
    ASSERT_TRUE(own[1].SendBytes(std::string(200 * 1024, 'a')));
    EXPECT_TRUE(own[1].WaitClosed());
    EXPECT_TRUE(trace.WaitFor(" too much unfinished data, closing connection."));
    EXPECT_TRUE(WaitForConnectionCount(TCPXmlManager::kMaxConnectionsPerAddress));
    EXPECT_LE(manager.PendingTotal(), 300u * 1024);

    // An unfinished message that makes no progress is dropped with its connection; one whose end
    // comes in time is carried out.
    manager.SetStallTimeout(std::chrono::milliseconds(300));
    EXPECT_TRUE(bystander.WaitClosed());
    EXPECT_TRUE(trace.WaitFor(" unfinished message stalled, closing connection."));
    EXPECT_EQ(manager.PendingTotal(), 0u);
    ASSERT_TRUE(own[2].SendBytes("<commands><command type=\"P"));
    ASSERT_TRUE(own[2].SendBytes(std::string("RF\"/></commands>") + '\0'));
    EXPECT_TRUE(own[2].WaitClosed());
    EXPECT_EQ(trace.Count(" unfinished message stalled, closing connection."), 1u);

    // The budget admits the devices it serves: four sending the largest legal messages at once are
    // all read and answered.
    manager.SetPendingBudget(TCPXmlManager::kPendingBudget);
    std::vector<std::optional<DeviceListener>> devices(4);
    std::vector<DeviceConnection> senders;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const std::string host = "127.0.3." + std::to_string(i + 1);
        ASSERT_TRUE(ListenOnSamePort(device, host, devices[i]));
        senders.push_back(Connect(*devices[i], host));
    }
    // 9.25 MiB: a document of about seven, in Base64 (it is no archive, so it fails at once).
    const std::string large =
        "<commands><command type=\"PFL\"><parameters><parameter type=\"FILE_CONTENT\">" +
        std::string(9 * 1024 * 1024 + 256 * 1024, 'Q') +
        "</parameter><parameter type=\"FILE_NAME\">a.7z</parameter>"
        "<parameter type=\"PRINTER\">Office</parameter>"
        "<parameter type=\"FILE_PREVIEW\">a.htm</parameter>"
        "</parameters></command></commands>" +
        std::string(1, '\0');
    // Each sends all but its last byte, so that all four are unfinished at once, and then its end.
    std::vector<std::thread> sending;
    for (DeviceConnection& sender : senders) {
        sending.emplace_back([&sender, &large] { sender.SendBytes(large.substr(0, large.size() - 1)); });
    }
    for (std::thread& thread : sending) {
        thread.join();
    }
    EXPECT_TRUE(WaitUntil([&] { return manager.PendingTotal() >= 4 * (large.size() - 1); }));
    for (DeviceConnection& sender : senders) {
        ASSERT_TRUE(sender.SendBytes(std::string(1, '\0')));
    }
    for (DeviceConnection& sender : senders) {
        const auto answer = sender.ReadMessage();
        ASSERT_TRUE(answer.has_value());
        EXPECT_NE(answer->find("<command type=\"PRP\">"), std::string::npos);
    }
    EXPECT_EQ(trace.Count(" too much unfinished data, closing connection."), 1u);
}

TEST_F(TCPXmlManagerTest, FloodsOfEmptyOrBadMessagesCannotFloodTheTrace) {
    DeviceListener device("127.0.0.2");
    DeviceConnection connection = Connect(device, "127.0.0.2");
    const std::string id = IdConnectedWith("127.0.0.2");
    const std::size_t before = trace.Lines().size();

    // Lone 0 bytes are no messages: nothing at all is traced for them.
    ASSERT_TRUE(connection.SendBytes(std::string(1000000, '\0')));
    // The same bad message over and over is one line and a count.
    std::string same;
    for (int i = 0; i < 20000; ++i) {
        same += std::string("<x") + '\0';
    }
    ASSERT_TRUE(connection.SendBytes(same));
    // Different lines in quick succession are held to a few a second.
    std::string mixed;
    for (int i = 0; i < 20000; ++i) {
        mixed += std::string("<x") + '\0' + "<y/>" + '\0';
    }
    ASSERT_TRUE(connection.SendBytes(mixed));
    ASSERT_TRUE(connection.SendBytes(kClose));
    EXPECT_TRUE(connection.WaitClosed());
    EXPECT_TRUE(trace.WaitFor(" (repeated "));
    const std::size_t added = trace.Lines().size() - before;
    EXPECT_LE(added, 2 * TraceLimiter::kPerDevice.burst);
    EXPECT_GE(trace.Count(id + " : error loading XML."), 1u);
    // What was held back is told a moment later, though the device says nothing more.
    EXPECT_TRUE(trace.WaitFor("127.0.0.2: "));
    EXPECT_TRUE(trace.WaitFor(" trace lines dropped"));
}

TEST(TCPClientSend, RepliesGoOutWholeInTheWireCodePage) {
    DeviceListener device("127.0.0.1");
    TCPClient client;
    ASSERT_TRUE(client.Connect("127.0.0.1", device.PortText()));
    DeviceConnection connection = device.Accept();

    const std::string longText = "<r>" + std::string(5000, 'n') + "</r>";
    client.Send(longText);
    client.Send("Caf\xC3\xA9"); // UTF-8 inside, one byte on the wire
    client.Send("");
    EXPECT_EQ(connection.ReadMessage(), longText);
    EXPECT_EQ(connection.ReadMessage(), std::string("Caf\xE9"));
}

TEST(TCPClientSend, DeviceThatNeverReadsIsDropped) {
    DeviceListener device("127.0.0.1");
    TraceRecorder trace;
    TCPClient client;
    client.SetTraceSink(&trace);
    ASSERT_TRUE(client.Connect("127.0.0.1", device.PortText()));
    DeviceConnection silent = device.Accept();

    // It is dropped as soon as its window stays full for a moment, not after seconds, and what did
    // not go out is not traced as sent.
    const auto started = std::chrono::steady_clock::now();
    client.Send(std::string(64 * 1024 * 1024, 'x'));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 20 * TCPClient::kSendPatience);
    EXPECT_FALSE(client.IsOpen());
    EXPECT_EQ(trace.Count(" unable to send, closing connection."), 1u);
    EXPECT_EQ(trace.Count(" sent ["), 0u);
}
