#pragma once

#include <filesystem>
#include <vector>

// Where the volumes of the machine are learnt from. The defaults are the system's; tests give their
// own sysfs root to register a mounted volume as removable.
struct VolumeSources {
    // The mount table in the format of /proc/self/mountinfo.
    std::filesystem::path mountTable = "/proc/self/mountinfo";
    // A volume is removable when its block device has "removable" = 1 below this root...
    std::filesystem::path sysfsRoot = "/sys";
    // ...or when it is mounted below one of these folders, where desktops mount plugged media.
    std::vector<std::filesystem::path> mediaRoots = {"/media", "/run/media"};
};
