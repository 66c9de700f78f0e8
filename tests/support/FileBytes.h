#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Whole-file helpers for tests that compare files byte for byte.
std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);
// The lines of a text, without their line feeds.
std::vector<std::string> SplitLines(const std::string& text);
