#pragma once

#include <mutex>
#include <thread>
#include <vector>

#include "removable/MountTable.h"
#include "removable/VolumeSources.h"

class IVolumeListener;

// Watches the mount table for removable volumes that are mounted or unmounted. The kernel wakes a
// poll on the table at every mount change; nothing runs in between. Volumes present at Start are
// known already and not reported.
class VolumeMonitor {
public:
    VolumeMonitor(VolumeSources sources, IVolumeListener& listener);
    ~VolumeMonitor();
    VolumeMonitor(const VolumeMonitor&) = delete;
    VolumeMonitor& operator=(const VolumeMonitor&) = delete;

    // False when the mount table cannot be read or the thread cannot start.
    bool Start();
    // Ends the watch thread; returns once it has ended.
    void Stop();

private:
    void Watch();
    void Report(const std::vector<MountEntry>& now);

    VolumeSources sources;
    IVolumeListener& listener;
    std::mutex lock;
    int tableFd = -1;
    int stopFd = -1;
    std::vector<MountEntry> known;
    std::thread thread;
};
