#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

#include "removable/IVolumeListener.h"
#include "removable/VolumeMonitor.h"
#include "support/MountedVolume.h"
#include "support/TempDir.h"

namespace {

class RecordingListener : public IVolumeListener {
public:
    void VolumeArrived(const std::filesystem::path& mountPoint) override {
        Add("arrived " + mountPoint.string());
    }
    void VolumeRemoved(const std::filesystem::path& mountPoint) override {
        Add("removed " + mountPoint.string());
    }

    // Waits until `count` events came; what came by then.
    std::vector<std::string> WaitFor(std::size_t count) {
        std::unique_lock guard(lock);
        changed.wait_for(guard, std::chrono::seconds(10), [&] { return events.size() >= count; });
        return events;
    }

private:
    void Add(const std::string& event) {
        std::lock_guard guard(lock);
        events.push_back(event);
        changed.notify_all();
    }

    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::string> events;
};

} // namespace

TEST(VolumeMonitorWatch, ReportsRemovableMountsAndUnmountsAndStops) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "mounting volumes needs root";
    }
    TempDir dir;
    VolumeSources sources;
    sources.sysfsRoot = dir / "sys";
    sources.mediaRoots = {dir / "media"};
    RecordingListener listener;
    VolumeMonitor monitor(sources, listener);

    auto early = std::make_unique<MountedVolume>(MountedVolume::Kind::Tmpfs, dir / "media/early");
    ASSERT_TRUE(early->Mounted()) << early->Error();
    ASSERT_TRUE(monitor.Start());

    // Not removable: neither below the media root nor flagged in sysfs.
    MountedVolume fixed(MountedVolume::Kind::Tmpfs, dir / "fixed");
    ASSERT_TRUE(fixed.Mounted()) << fixed.Error();
    auto stick = std::make_unique<MountedVolume>(MountedVolume::Kind::Fat, dir / "media/stick");
    ASSERT_TRUE(stick->Mounted()) << stick->Error();
    const std::string stickPath = (dir / "media/stick").string();
    EXPECT_EQ(listener.WaitFor(1), std::vector<std::string>{"arrived " + stickPath});

    stick.reset();
    EXPECT_EQ(listener.WaitFor(2).size(), 2u);
    early.reset();
    EXPECT_EQ(listener.WaitFor(3), (std::vector<std::string>{"arrived " + stickPath, "removed " + stickPath,
                                                             "removed " + (dir / "media/early").string()}));
    monitor.Stop();
    // Stopped: further mounts are not reported.
    MountedVolume late(MountedVolume::Kind::Tmpfs, dir / "media/late");
    ASSERT_TRUE(late.Mounted());
    EXPECT_EQ(listener.WaitFor(3).size(), 3u);
    EXPECT_FALSE(VolumeMonitor(VolumeSources{dir / "no-table", {}, {}}, listener).Start());
}
