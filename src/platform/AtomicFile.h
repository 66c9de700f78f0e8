#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <sys/types.h>

// Replaces a file as a whole: the bytes go to a temporary file in the same folder, are flushed to
// disk and renamed over the old file. A failure at any step leaves the old file as it was. The file
// keeps its permissions; a new one gets `newFileMode`, or without it what the umask allows.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::optional<mode_t> newFileMode = std::nullopt);
