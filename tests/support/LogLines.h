#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The messages of an event log file, without the tick count and time in front of each.
std::vector<std::string> LogMessages(const std::filesystem::path& logFile);
