#pragma once

#include <string>

// The desktop's notifications: a short message at the edge of the screen that the person reads when
// they look, never a window that takes the keyboard focus or waits for an answer. The desktop program
// implements it through the session's notification service; the service has none (null). GUI thread.
class IDesktopNotifier {
public:
    // How much the message matters: Low passes quietly (no sound, not kept in the desktop's list of
    // notifications), Critical stays until the person closes it.
    enum class Urgency { Low, Normal, Critical };

    virtual ~IDesktopNotifier() = default;
    virtual void Notify(Urgency urgency, const std::string& title, const std::string& text) = 0;
};
