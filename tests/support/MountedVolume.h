#pragma once

#include <filesystem>
#include <string>

// A volume mounted for a test, unmounted when the object ends: a tmpfs, or a FAT image mounted
// through FUSE with fusefat (the kernel here cannot mount FAT). Tests run as root; where mounting
// is refused, Mounted() is false and Error() says why.
class MountedVolume {
public:
    enum class Kind { Tmpfs, Fat };

    // The mount point is made if missing; a FAT image is made beside it.
    MountedVolume(Kind kind, const std::filesystem::path& mountPoint);
    ~MountedVolume();
    MountedVolume(const MountedVolume&) = delete;
    MountedVolume& operator=(const MountedVolume&) = delete;

    bool Mounted() const { return mounted; }
    const std::string& Error() const { return error; }
    const std::filesystem::path& MountPoint() const { return mountPoint; }
    // Marks the volume's device removable in a sysfs tree of the test's own.
    void RegisterRemovable(const std::filesystem::path& sysfsRoot) const;
    bool Unmount();
    // Moves the mounted volume to `where` (made if missing), as if it were plugged in there with what
    // it holds.
    bool MoveTo(const std::filesystem::path& where);

private:
    std::filesystem::path mountPoint;
    bool mounted = false;
    std::string error;
};
