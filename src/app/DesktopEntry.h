#pragma once

#include <filesystem>
#include <optional>
#include <string>

// The autostart desktop entry that starts the program at log-on.
class DesktopEntry {
public:
    // The entry's text, its Exec= the program's full path; nothing when the path cannot be written
    // in an entry (not UTF-8, or holding control characters). A hidden entry keeps a machine-wide
    // entry of the same name from starting the program.
    static std::optional<std::string> AutostartText(const std::filesystem::path& program,
                                                    bool hidden = false);
    // Whether the entry in `file` says "Hidden=true" (the desktop then ignores it).
    static bool IsHidden(const std::filesystem::path& file);
    // One argument of an Exec= value: quoted when it holds a reserved character, with the escapes of
    // both the quoting and the string value applied.
    static std::optional<std::string> ExecArgument(const std::string& argument);
};
