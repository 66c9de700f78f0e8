#pragma once

#include <string>

// A message for the person at the screen, closed with OK. The desktop shows a message box; tests
// record the texts.
class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    // Returns when the person has closed the message.
    virtual void Show(const std::string& text) = 0;
};
