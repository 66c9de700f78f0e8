#include "removable/VolumeMonitor.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

#include "removable/IVolumeListener.h"

namespace {

bool SameVolume(const MountEntry& a, const MountEntry& b) {
    return a.id == b.id && a.mountPoint == b.mountPoint;
}

void CloseIfOpen(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

} // namespace

VolumeMonitor::VolumeMonitor(VolumeSources volumeSources, IVolumeListener& volumeListener)
    : sources(std::move(volumeSources)), listener(volumeListener) {}

VolumeMonitor::~VolumeMonitor() {
    Stop();
}

bool VolumeMonitor::Start() {
    std::lock_guard guard(lock);
    if (thread.joinable()) {
        return true;
    }
    tableFd = ::open(sources.mountTable.c_str(), O_RDONLY | O_CLOEXEC);
    stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const auto table = tableFd >= 0 ? MountTable::ReadAll(tableFd) : std::nullopt;
    if (!table || stopFd < 0) {
        CloseIfOpen(tableFd);
        CloseIfOpen(stopFd);
        return false;
    }
    known = MountTable::RemovableVolumes(MountTable::Parse(*table), sources);
    try {
        thread = std::thread(&VolumeMonitor::Watch, this);
    } catch (const std::system_error&) {
        CloseIfOpen(tableFd);
        CloseIfOpen(stopFd);
        return false;
    }
    return true;
}

void VolumeMonitor::Stop() {
    std::lock_guard guard(lock);
    if (!thread.joinable()) {
        return;
    }
    const std::uint64_t one = 1;
    while (::write(stopFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
    thread.join();
    CloseIfOpen(tableFd);
    CloseIfOpen(stopFd);
}

void VolumeMonitor::Watch() {
    while (true) {
        pollfd watched[] = {{stopFd, POLLIN, 0}, {tableFd, POLLPRI, 0}};
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (watched[0].revents != 0) {
            return;
        }
        if ((watched[1].revents & POLLNVAL) != 0) {
            return;
        }
        // Reading the table again is what re-arms the kernel's notice.
        const auto table = MountTable::ReadAll(tableFd);
        if (table) {
            Report(MountTable::RemovableVolumes(MountTable::Parse(*table), sources));
        }
    }
}

void VolumeMonitor::Report(const std::vector<MountEntry>& now) {
    for (const MountEntry& volume : known) {
        if (std::none_of(now.begin(), now.end(),
                         [&](const MountEntry& v) { return SameVolume(v, volume); })) {
            listener.VolumeRemoved(volume.mountPoint);
        }
    }
    for (const MountEntry& volume : now) {
        if (std::none_of(known.begin(), known.end(),
                         [&](const MountEntry& v) { return SameVolume(v, volume); })) {
            listener.VolumeArrived(volume.mountPoint);
        }
    }
    known = now;
}
