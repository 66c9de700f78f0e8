#pragma once

#include <filesystem>
#include <optional>
#include <string>

// Packs one document into a 7z archive with the 7za program and gives back the archive's bytes.
class ArchivePacker {
public:
    // Nothing, with `error` set, when 7za could not be run or failed.
    static std::optional<std::string> Pack(const std::filesystem::path& document,
                                           const std::string& archiveName, std::string& error);
};
