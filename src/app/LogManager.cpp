#include "app/LogManager.h"

#include <ctime>

#include "app/ITraceSink.h"

std::string LogManager::TraceLineFor(const std::string& text) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char time[16];
    std::strftime(time, sizeof time, "%H:%M:%S", &local);
    return std::string(time) + " > " + text;
}

void LogManager::Trace(const std::string& text, ITraceSink* sink) {
    if (sink != nullptr) {
        sink->TraceLine(TraceLineFor(text));
    }
}
