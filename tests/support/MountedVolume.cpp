#include "support/MountedVolume.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>

#include "support/ChildProcess.h"

namespace {

constexpr auto kToolTimeout = std::chrono::seconds(30);

bool Run(const std::string& program, const std::vector<std::string>& arguments, std::string& error) {
    ChildProcess child(program, arguments);
    const std::optional<int> code = child.Wait(kToolTimeout);
    if (code != 0) {
        error = program + " failed: " + child.Output();
        return false;
    }
    return true;
}

bool IsMountPoint(const std::filesystem::path& path) {
    struct stat self {};
    struct stat parent {};
    return ::stat(path.c_str(), &self) == 0 && ::stat(path.parent_path().c_str(), &parent) == 0 &&
           self.st_dev != parent.st_dev;
}

} // namespace

MountedVolume::MountedVolume(Kind kind, const std::filesystem::path& where) : mountPoint(where) {
    std::filesystem::create_directories(mountPoint);
    if (kind == Kind::Tmpfs) {
        mounted = ::mount("qopra-test", mountPoint.c_str(), "tmpfs", 0, "size=64m") == 0;
        if (!mounted) {
            error = std::string("mount tmpfs: ") + std::strerror(errno);
        }
        return;
    }
    const std::filesystem::path image = mountPoint.string() + ".img";
    { std::ofstream(image, std::ios::binary).close(); }
    std::filesystem::resize_file(image, 32 * 1024 * 1024);
    if (!Run("/usr/sbin/mkfs.vfat", {image.string()}, error) ||
        !Run("/usr/bin/fusefat", {"-o", "rw+", image.string(), mountPoint.string()}, error)) {
        return;
    }
    // fusefat answers before the kernel shows the mount.
    for (int i = 0; i < 100 && !IsMountPoint(mountPoint); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    mounted = IsMountPoint(mountPoint);
    if (!mounted) {
        error = "fusefat did not mount " + mountPoint.string();
    }
}

MountedVolume::~MountedVolume() {
    Unmount();
}

void MountedVolume::RegisterRemovable(const std::filesystem::path& sysfsRoot) const {
    struct stat status {};
    ::stat(mountPoint.c_str(), &status);
    const std::filesystem::path device =
        sysfsRoot / "dev" / "block" /
        (std::to_string(major(status.st_dev)) + ":" + std::to_string(minor(status.st_dev)));
    std::filesystem::create_directories(device);
    std::ofstream(device / "removable") << "1\n";
}

bool MountedVolume::Unmount() {
    if (!mounted) {
        return true;
    }
    // A FUSE daemon may still be finishing a write: try a few times before letting go lazily.
    for (int i = 0; i < 50; ++i) {
        if (::umount(mountPoint.c_str()) == 0) {
            mounted = false;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    mounted = ::umount2(mountPoint.c_str(), MNT_DETACH) != 0;
    return !mounted;
}

bool MountedVolume::MoveTo(const std::filesystem::path& where) {
    std::filesystem::create_directories(where);
    if (!mounted || ::mount(mountPoint.c_str(), where.c_str(), nullptr, MS_MOVE, nullptr) != 0) {
        error = "cannot move " + mountPoint.string() + ": " + std::strerror(errno);
        return false;
    }
    mountPoint = where;
    return true;
}
