#pragma once

#include <string>

// A question for the person at the screen, answered with OK or Cancel. The desktop shows a message
// box; tests answer it themselves.
class IConfirmBox {
public:
    virtual ~IConfirmBox() = default;
    // True when the person chose OK; returns once they have answered.
    virtual bool Confirm(const std::string& text) = 0;
};
