#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

// A program started by a test, with its standard output and error collected in a file.
class ChildProcess {
public:
    // Starts `program` with `arguments`; `environment` entries are added to (or replace) the test's own.
    ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& environment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    int Pid() const { return pid; }
    // Exit code once the process ended within `timeout` (128 + signal when killed by one).
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    bool Running();
    void Signal(int signalNumber);
    // What the process wrote so far to standard output and error.
    std::string Output() const;
    // Waits until the output holds `text`.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const;

    // The build tree's executables.
    static std::filesystem::path Executable(const std::string& name);

private:
    int pid = -1;
    std::optional<int> exitCode;
    std::filesystem::path outputFile;
};
