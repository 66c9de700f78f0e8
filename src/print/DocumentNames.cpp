#include "print/DocumentNames.h"

#include <algorithm>
#include <system_error>

#include "platform/Unicode.h"

bool DocumentNames::IsPdfName(std::string_view name) {
    return AsciiUpper(name).find(".PDF") != std::string::npos;
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
