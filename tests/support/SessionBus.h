#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"
#include "support/FileBytes.h"

// A session bus of the test's own (dbus-daemon) with the notification-service stand-in on it, which
// records every notification a program sends. Programs reach it through Address().
class SessionBus {
public:
    static bool Available() { return std::filesystem::exists("/usr/bin/dbus-daemon"); }

    explicit SessionBus(const std::filesystem::path& folder)
        : record(folder / "notifications.txt"),
          daemon("/usr/bin/dbus-daemon", {"--session", "--nofork", "--print-address"}) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (address.empty() && std::chrono::steady_clock::now() < deadline) {
            const std::string output = daemon.Output();
            if (const std::size_t end = output.find('\n'); end != std::string::npos) {
                address = output.substr(0, end);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        WriteFileBytes(record, "");
        recorder.emplace(ChildProcess::Executable("qopra-notification-recorder"),
                         std::vector<std::string>{record.string()},
                         std::map<std::string, std::string>{{"DBUS_SESSION_BUS_ADDRESS", address},
                                                            {"QT_QPA_PLATFORM", "offscreen"}});
        recorder->WaitForOutput("ready", std::chrono::seconds(10));
    }

    const std::string& Address() const { return address; }
    bool Ready() const {
        return !address.empty() && recorder && recorder->Output().find("ready") != std::string::npos;
    }

    // The notifications so far, one "urgency<TAB>summary<TAB>body<TAB>icon" line each.
    std::vector<std::string> Notifications() const { return SplitLines(ReadFileBytes(record)); }

    // Waits until `count` notifications were recorded.
    bool WaitForNotifications(std::size_t count, std::chrono::milliseconds timeout) const {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (Notifications().size() < count) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

private:
    std::filesystem::path record;
    ChildProcess daemon;
    std::string address;
    std::optional<ChildProcess> recorder;
};
