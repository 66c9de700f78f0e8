#pragma once

#include <string>

// Whether the windows of the desktop program can be shown: a display named in the environment that
// really answers. Asked before Qt starts, because Qt ends the process when its display cannot be
// opened.
class DisplayProbe {
public:
    // Empty when a display answers; otherwise why not, for the message on standard error.
    static std::string WhyNoDisplay();
};
