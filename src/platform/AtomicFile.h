#pragma once

#include <filesystem>
#include <string_view>

// Replaces a file as a whole: the bytes go to a temporary file in the same folder, are flushed to
// disk and renamed over the old file. A failure at any step leaves the old file as it was.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes);
