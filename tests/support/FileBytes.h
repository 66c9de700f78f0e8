#pragma once

#include <filesystem>
#include <string>

// Whole-file helpers for tests that compare files byte for byte.
std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);
