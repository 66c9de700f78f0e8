#pragma once

#include "app/IMessageBox.h"

// Messages of the housekeeping and the settings window as modal message boxes.
class QtMessageBox : public IMessageBox {
public:
    void Show(const std::string& text) override;
};
