#include "print/DocumentNames.h"

#include <algorithm>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

#include "platform/Unicode.h"

bool DocumentNames::IsPdfName(std::string_view name) {
    return AsciiUpper(name).find(".PDF") != std::string::npos;
}

bool DocumentNames::IsPicture(const std::filesystem::path& file) {
    // The marks the spooler's own type rules look for.
    static constexpr std::string_view kMarks[] = {
        std::string_view("\xFF\xD8\xFF", 3), std::string_view("\x89PNG", 4), "GIF87a", "GIF89a",
        std::string_view("II*\0", 4),        std::string_view("MM\0*", 4),   "BM"};
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char head[8] = {};
    const ssize_t size = ::read(fd, head, sizeof head);
    ::close(fd);
    const std::string_view start(head, size > 0 ? static_cast<std::size_t>(size) : 0);
    return std::any_of(std::begin(kMarks), std::end(kMarks),
                       [&](std::string_view mark) { return start.starts_with(mark); });
}

bool DocumentNames::IsPlainFileName(std::string_view name) {
    return !name.empty() && name != "." && name.find('/') == std::string_view::npos &&
           name.find('\\') == std::string_view::npos && name.find("..") == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

std::optional<std::string> DocumentNames::FindRegularFile(const std::filesystem::path& folder,
                                                          const std::string& name) {
    const std::string wanted = AsciiUpper(name);
    std::optional<std::string> found;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string candidate = it->path().filename().string();
        std::error_code statusError;
        if (AsciiUpper(candidate) != wanted ||
            it->symlink_status(statusError).type() != std::filesystem::file_type::regular) {
            continue;
        }
        if (candidate == name) {
            return candidate;
        }
        if (!found || candidate < *found) {
            found = candidate;
        }
    }
    return found;
}
