#pragma once

#include "app/IConfirmBox.h"

// The question as a modal message box with OK and Cancel and an empty caption; Cancel is the default.
class QtConfirmBox : public IConfirmBox {
public:
    bool Confirm(const std::string& text) override;
};
