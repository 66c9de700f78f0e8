#include "platform/ProcessList.h"

#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

namespace {

const std::filesystem::path kProcFolder = "/proc";

bool IsPidName(std::string_view name) {
    if (name.empty()) {
        return false;
    }
    for (const char c : name) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
            return false;
        }
    }
    return true;
}

std::string FirstLine(const std::filesystem::path& file) {
    std::ifstream stream(file);
    std::string line;
    std::getline(stream, line);
    return line;
}

// The state letter of /proc/<pid>/stat follows the name in parentheses, which may itself hold ")".
char ProcessState(pid_t pid) {
    const std::string stat = FirstLine(kProcFolder / std::to_string(pid) / "stat");
    const std::size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() ? '\0' : stat[close + 2];
}

} // namespace

std::string ProcessName(pid_t pid) {
    return FirstLine(kProcFolder / std::to_string(pid) / "comm");
}

std::optional<uid_t> ProcessUser(pid_t pid) {
    // "Uid:" then the real, effective, saved and file-system user ids.
    std::ifstream status(kProcFolder / std::to_string(pid) / "status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Uid:", 0) == 0) {
            std::istringstream ids(line.substr(4));
            uid_t real = 0;
            uid_t effective = 0;
            if (ids >> real >> effective) {
                return effective;
            }
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::vector<RunningProcess> ListRunningProcesses() {
    std::vector<RunningProcess> processes;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(kProcFolder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (!IsPidName(name)) {
            continue;
        }
        pid_t pid = 0;
        if (std::from_chars(name.data(), name.data() + name.size(), pid).ec != std::errc()) {
            continue;
        }
        const char state = ProcessState(pid);
        if (state == '\0' || state == 'Z' || state == 'X') {
            continue;
        }
        std::string command = ProcessName(pid);
        if (!command.empty()) {
            processes.push_back(RunningProcess{pid, std::move(command)});
        }
    }
    return processes;
}
