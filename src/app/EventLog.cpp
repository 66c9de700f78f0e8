#include "app/EventLog.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/TickCount.h"
#include "platform/Unicode.h"

namespace {

std::string TimeOfDay() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

EventLog& EventLog::Global() {
    static EventLog log;
    return log;
}

std::string EventLog::Format(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string message;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        message.assign(buffer.data(), static_cast<std::size_t>(needed));
    }
    return message;
}

void EventLog::Write(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string message = Format(format, args);
    va_end(args);
    Global().WriteMessage(message);
}

void EventLog::SetFileName(const std::filesystem::path& path) {
    std::lock_guard guard(lock);
    fileName = path;
}

std::filesystem::path EventLog::FileName() const {
    std::lock_guard guard(lock);
    return fileName;
}

void EventLog::WriteMessage(std::string_view message) {
    std::lock_guard guard(lock);
    if (fileName.empty()) {
        return;
    }
    // The file is held open only while this one line is written, so it is always complete on disk.
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    const auto tick = static_cast<std::int32_t>(TickCount());
    std::string line = std::to_string(tick) + " - " + TimeOfDay() + " ";
    // Names and texts from devices and drives go into messages: none of them may start a line of its own.
    line += Utf8ToLatin1Lossy(Utf8Prefix(EscapeControlCharacters(message), kMessageLimit));
    line += '\n';
    WriteAll(fd, line);
    ::close(fd);
}
