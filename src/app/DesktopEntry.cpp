#include "app/DesktopEntry.h"

#include <fstream>
#include <string_view>

#include "platform/Unicode.h"

namespace {

// Characters that make an argument need quotes.
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
// Characters that need a backslash inside quotes.
constexpr std::string_view kEscapedInQuotes = "\"`$\\";
constexpr char32_t kReplacement = 0xFFFD;

bool IsCleanUtf8(const std::string& text) {
    for (const char32_t c : Utf8ToUtf32(text)) {
        if (c == kReplacement || c < 0x20 || c == 0x7F) {
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<std::string> DesktopEntry::ExecArgument(const std::string& argument) {
    if (argument.empty() || !IsCleanUtf8(argument)) {
        return std::nullopt;
    }
    const bool quoted = argument.find_first_of(kReserved) != std::string::npos;
    std::string written;
    if (quoted) {
        written += '"';
    }
    for (const char c : argument) {
        if (c == '%') {
            // Field codes start with "%"; a literal one is doubled.
            written += "%%";
        } else if (quoted && kEscapedInQuotes.find(c) != std::string_view::npos) {
            // The quoting backslash, itself escaped as a string value: "\\" for the backslash,
            // and a literal backslash becomes four.
            written += c == '\\' ? "\\\\\\\\" : std::string("\\\\") + c;
        } else {
            written += c;
        }
    }
    if (quoted) {
        written += '"';
    }
    return written;
}

std::optional<std::string> DesktopEntry::AutostartText(const std::filesystem::path& program, bool hidden) {
    if (!program.is_absolute()) {
        return std::nullopt;
    }
    const std::optional<std::string> exec = ExecArgument(program.string());
    if (!exec) {
        return std::nullopt;
    }
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Qopra\n"
           "Comment=Wi-Fi print service\n"
           "Exec=" +
           *exec +
           "\n"
           "Icon=qopra2\n"
           "Terminal=false\n" +
           (hidden ? "Hidden=true\n" : "");
}

bool DesktopEntry::IsHidden(const std::filesystem::path& file) {
    std::ifstream entry(file);
    for (std::string line; std::getline(entry, line);) {
        if (line.starts_with("Hidden=")) {
            return line.substr(std::string_view("Hidden=").size()) == "true";
        }
    }
    return false;
}
