#include "support/LogLines.h"

#include "support/FileBytes.h"

namespace {

// "<tick> - HH:MM:SS " comes before every message.
constexpr std::size_t kTimeAndBlank = 9;

} // namespace

std::vector<std::string> LogMessages(const std::filesystem::path& logFile) {
    std::vector<std::string> messages;
    if (!std::filesystem::exists(logFile)) {
        return messages;
    }
    for (const std::string& line : SplitLines(ReadFileBytes(logFile))) {
        const std::size_t dash = line.find(" - ");
        messages.push_back(dash == std::string::npos ? line : line.substr(dash + 3 + kTimeAndBlank));
    }
    return messages;
}
