#pragma once

#include "app/IMessageBox.h"

// Messages where nobody looks at a screen (the headless service): they go to the log.
class LogMessageBox : public IMessageBox {
public:
    void Show(const std::string& text) override;
};
