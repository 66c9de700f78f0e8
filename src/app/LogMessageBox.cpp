#include "app/LogMessageBox.h"

#include "app/EventLog.h"

void LogMessageBox::Show(const std::string& text) {
    EventLog::Write("[MESSAGE] %s", text.c_str());
}
