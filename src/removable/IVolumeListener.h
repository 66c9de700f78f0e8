#pragma once

#include <filesystem>

// Hears of removable volumes coming and going. Called on the volume monitor's thread: the main
// window's implementation (desktop application) queues each call to the GUI thread, where it logs
// "WM_DEVICECHANGE --> Inserted, Drive: %s" or "WM_DEVICECHANGE --> Removed, Drive: %s" with the mount
// point and refreshes the documents window (on an arrival with a document root, also bringing it to
// the front).
class IVolumeListener {
public:
    virtual ~IVolumeListener() = default;
    virtual void VolumeArrived(const std::filesystem::path& mountPoint) = 0;
    virtual void VolumeRemoved(const std::filesystem::path& mountPoint) = 0;
};
