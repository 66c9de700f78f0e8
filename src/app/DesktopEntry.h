#pragma once

#include <filesystem>
#include <optional>
#include <string>

// The autostart desktop entry that starts the program at log-on.
class DesktopEntry {
public:
    // The entry's text, its Exec= the program's full path; nothing when the path cannot be written
    // in an entry (not UTF-8, or holding control characters).
    static std::optional<std::string> AutostartText(const std::filesystem::path& program);
    // One argument of an Exec= value: quoted when it holds a reserved character, with the escapes of
    // both the quoting and the string value applied.
    static std::optional<std::string> ExecArgument(const std::string& argument);
};
