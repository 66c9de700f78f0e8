#pragma once

#include <string>
#include <vector>

#include "app/IConfirmBox.h"
#include "app/IMessageBox.h"

// Message boxes answered at once; the texts are kept.
class RecordedMessages : public IMessageBox {
public:
    void Show(const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

// OK/Cancel questions answered as told; the texts are kept.
class AnsweredQuestion : public IConfirmBox {
public:
    bool Confirm(const std::string& text) override {
        texts.push_back(text);
        return answer;
    }
    bool answer = true;
    std::vector<std::string> texts;
};
