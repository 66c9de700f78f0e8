#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "removable/VolumeSources.h"

// One mounted volume of the mount table.
struct MountEntry {
    // The mount's id: a volume mounted again at the same place gets a new one.
    std::string id;
    unsigned major = 0;
    unsigned minor = 0;
    std::filesystem::path mountPoint;
    std::string fileSystemType;
    std::string source;

    bool operator==(const MountEntry&) const = default;
};

// Reads the mount table and picks out the removable volumes.
class MountTable {
public:
    // Lines in the format of /proc/self/mountinfo; lines that do not fit are skipped.
    static std::vector<MountEntry> Parse(std::string_view text);
    // The whole table from an open descriptor, read from its start (the kernel's table has no size).
    static std::optional<std::string> ReadAll(int fd);
    static std::optional<std::vector<MountEntry>> Read(const std::filesystem::path& path);

    static bool IsRemovable(const MountEntry& entry, const VolumeSources& sources);
    // The removable volumes, in mount-point order; of volumes mounted over one another, the top one.
    static std::vector<MountEntry> RemovableVolumes(const std::vector<MountEntry>& entries,
                                                    const VolumeSources& sources);
};
