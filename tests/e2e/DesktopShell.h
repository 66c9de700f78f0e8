#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

// What the desktop tests do as a person at the screen: run a shell command (xdotool, xwininfo) and
// read what it says, and wait for what they should see.
namespace desktopshell {

inline std::string Shell(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char chunk[4096];
        std::size_t count = 0;
        while ((count = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
            output.append(chunk, count);
        }
        ::pclose(pipe);
    }
    return output;
}

template <typename Check>
bool WaitUntil(Check check, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!check()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

} // namespace desktopshell
