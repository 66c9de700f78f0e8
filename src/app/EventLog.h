#pragma once

#include <cstdarg>
#include <cstddef>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

// The event log "qopra.log": one line per event, from any thread. The file is opened, appended and
// closed for every line, so it is always complete on disk and may be deleted while the program runs.
class EventLog {
public:
    static constexpr std::size_t kMessageLimit = 10239;

    // The process-wide log.
    static EventLog& Global();
    // printf-style message into the process-wide log.
    static void Write(const char* format, ...) __attribute__((format(printf, 1, 2)));
    // The text a printf-style format and its arguments make.
    static std::string Format(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

    void SetFileName(const std::filesystem::path& path);
    std::filesystem::path FileName() const;
    // Appends "<tick> - HH:MM:SS <message>\n"; control characters of the message are written out
    // (EscapeControlCharacters), it is cut to kMessageLimit characters and characters above code 255
    // are written as "?". The file is private to the user.
    void WriteMessage(std::string_view message);

private:
    mutable std::mutex lock;
    std::filesystem::path fileName;
};
