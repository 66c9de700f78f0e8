#include "e2e/HeadlessServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

using namespace e2e;

namespace {

int Shell(const std::vector<std::string>& command) {
    return RunProgram(command).exitCode;
}

// Three network namespaces of the test's own: the server's, a device's joined to it by one veth pair,
// and a stranger's joined by a second pair. Removed again whatever the test's outcome.
class Namespaces {
public:
    Namespaces() {
        const std::string tag = std::to_string(getpid());
        const int subnet = 10 + getpid() % 200;
        server = "qn" + tag + "s";
        device = "qn" + tag + "d";
        stranger = "qn" + tag + "x";
        serverLink = "qv" + tag + "s";
        strangerLink = "qv" + tag + "t";
        serverAddress = "10.231." + std::to_string(subnet) + ".1";
        deviceAddress = "10.231." + std::to_string(subnet) + ".2";
        strangerAddress = "10.232." + std::to_string(subnet) + ".2";
        const std::string strangerSide = "10.232." + std::to_string(subnet) + ".1";
        ready = getuid() == 0 && Shell({"ip", "netns", "add", server}) == 0;
        if (!ready) {
            return;
        }
        created = true;
        ready = Shell({"ip", "netns", "add", device}) == 0 && Shell({"ip", "netns", "add", stranger}) == 0 &&
                Pair(serverLink, "qv" + tag + "d", device, serverAddress, deviceAddress) &&
                Pair("qv" + tag + "u", strangerLink, stranger, strangerSide, strangerAddress);
    }
    ~Namespaces() {
        if (created) {
            for (const auto& name : {server, device, stranger}) {
                Shell({"ip", "netns", "del", name});
            }
        }
    }
    bool Ready() const { return ready; }
    std::vector<std::string> In(const std::string& name) const { return {"ip", "netns", "exec", name}; }
    // The hardware address of the server's side of the device link, as the settings write it.
    std::string ServerMac() const {
        std::string mac =
            RunProgram({"ip", "netns", "exec", server, "cat", "/sys/class/net/" + serverLink + "/address"})
                .output;
        mac.erase(std::remove(mac.begin(), mac.end(), '\n'), mac.end());
        std::transform(mac.begin(), mac.end(), mac.begin(),
                       [](unsigned char c) { return c == ':' ? '-' : static_cast<char>(std::toupper(c)); });
        return mac;
    }

    std::string server, device, stranger, serverLink, strangerLink;
    std::string serverAddress, deviceAddress, strangerAddress;

private:
    // A veth pair: `serverSide` in the server's namespace, `otherSide` in `other`.
    bool Pair(const std::string& serverSide, const std::string& otherSide, const std::string& other,
              const std::string& serverSideAddress, const std::string& otherAddress) {
        return Shell({"ip", "link", "add", serverSide, "type", "veth", "peer", "name", otherSide}) == 0 &&
               Shell({"ip", "link", "set", serverSide, "netns", server}) == 0 &&
               Shell({"ip", "link", "set", otherSide, "netns", other}) == 0 &&
               Shell({"ip", "-n", server, "addr", "add", serverSideAddress + "/24", "dev", serverSide}) ==
                   0 &&
               Shell({"ip", "-n", other, "addr", "add", otherAddress + "/24", "dev", otherSide}) == 0 &&
               Shell({"ip", "-n", server, "link", "set", serverSide, "up"}) == 0 &&
               Shell({"ip", "-n", other, "link", "set", otherSide, "up"}) == 0 &&
               Shell({"ip", "-n", server, "link", "set", "lo", "up"}) == 0 &&
               Shell({"ip", "-n", other, "link", "set", "lo", "up"}) == 0;
    }

    bool created = false;
    bool ready = false;
};

} // namespace

TEST(BroadcastDiscovery, DeviceOnTheChosenLinkIsServedAndAnotherLinkIsIgnored) {
    Namespaces namespaces;
    if (!namespaces.Ready()) {
        GTEST_SKIP() << "needs root and network namespaces";
    }
    Settings settings;
    settings.printers = {"Office"};
    // The adapter named by its hardware address wins over whatever the settings hold as address.
    settings.localAddress = namespaces.strangerAddress;
    settings.mac = namespaces.ServerMac();
    HeadlessServer server(settings, namespaces.In(namespaces.server));
    ASSERT_TRUE(server.WaitFor(", Address: " + namespaces.serverAddress + " is running on port " +
                               std::to_string(settings.localPort)));

    const auto pad = [&](const std::string& space, const std::string& address, const std::string& timeout) {
        std::vector<std::string> command = namespaces.In(space);
        const auto rest =
            PadCommand(settings, {"--broadcast", "--bind", address, "--timeout", timeout, "list"});
        command.insert(command.end(), rest.begin(), rest.end());
        return RunProgram(command);
    };
    const ProcessResult served = pad(namespaces.device, namespaces.deviceAddress, "20");
    EXPECT_EQ(served.exitCode, 0);
    EXPECT_NE(served.output.find("\nprinter: Office\n"), std::string::npos) << served.output;
    EXPECT_TRUE(server.WaitFor(" successfully connected with " + namespaces.deviceAddress));

    const ProcessResult ignored = pad(namespaces.stranger, namespaces.strangerAddress, "3");
    EXPECT_EQ(ignored.exitCode, 2);
    EXPECT_EQ(server.Count(namespaces.strangerAddress), 0u)
        << "a datagram from another link is not even traced";
    EXPECT_TRUE(server.Stop());
}
