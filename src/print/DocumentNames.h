#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The name tests of the working folder, shared by staging and the PDF road.
class DocumentNames {
public:
    // A name counts as a PDF when its upper-cased form contains ".PDF" anywhere.
    static bool IsPdfName(std::string_view name);
    // A picture the spooler prints as it is, fitted to the page (JPEG, PNG, GIF, TIFF, BMP), known by its
    // first bytes whatever its name says. Links are not followed.
    static bool IsPicture(const std::filesystem::path& file);
    // A name a device may give to a file of the working folder: not empty, no "/", "\", "..", NUL.
    static bool IsPlainFileName(std::string_view name);
    // The real name of the regular file (links not followed) in `folder` whose name equals `name`
    // when both are upper-cased; the exact name wins over other spellings, else the first by name.
    // Nothing when there is none.
    static std::optional<std::string> FindRegularFile(const std::filesystem::path& folder,
                                                      const std::string& name);
};
