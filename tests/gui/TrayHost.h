#pragma once

#include <QRect>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "support/ChildProcess.h"

// A notification area on the test X server: trayer, the tray host of many light desktops. One test
// at a time may hold it (a display has one tray owner).
namespace trayhost {

inline bool Available() {
    const char* display = std::getenv("DISPLAY");
    return display != nullptr && display[0] != '\0' && std::system("command -v trayer >/dev/null") == 0 &&
           std::system("command -v xdotool >/dev/null") == 0;
}

inline std::unique_ptr<ChildProcess> Start() {
    return std::make_unique<ChildProcess>("/usr/bin/trayer",
                                          std::vector<std::string>{"--edge", "top", "--align", "right",
                                                                   "--widthtype", "pixel", "--width", "160",
                                                                   "--height", "32", "--expand", "false"});
}

// Clicks the primary button (1) or the menu button (3) on the middle of `area`, `count` times.
inline bool Click(const QRect& area, int button, int count = 1) {
    const QPoint middle = area.center();
    const std::string command = "xdotool mousemove " + std::to_string(middle.x()) + " " +
                                std::to_string(middle.y()) + " click --repeat " + std::to_string(count) +
                                " --delay 80 " + std::to_string(button);
    return std::system(command.c_str()) == 0;
}

} // namespace trayhost
