#include "archive/KeptFolder.h"

#include <cerrno>
#include <system_error>

#include "app/EventLog.h"
#include "print/DocumentStaging.h"

namespace {

bool Below(const std::filesystem::path& inner, const std::filesystem::path& outer) {
    auto innerPart = inner.begin();
    for (auto outerPart = outer.begin(); outerPart != outer.end(); ++outerPart, ++innerPart) {
        if (innerPart == inner.end() || *innerPart != *outerPart) {
            return false;
        }
    }
    return true;
}

} // namespace

std::filesystem::path KeptFolder::RealPlaceInside(const std::filesystem::path& folder,
                                                  const std::filesystem::path& dataFolder) {
    if (folder.empty() || dataFolder.empty() || !folder.is_absolute()) {
        return {};
    }
    // "a/b/" names b; the folders on the way are resolved as the system would resolve them (a ".."
    // after a link leads where the link leads), the last name is kept as it is.
    std::filesystem::path named = folder;
    if (!named.has_filename()) {
        named = named.parent_path();
    }
    const std::filesystem::path name = named.filename();
    if (name.empty() || name == "." || name == "..") {
        return {};
    }
    std::error_code error;
    const std::filesystem::path realParent = std::filesystem::canonical(named.parent_path(), error);
    if (error) {
        return {};
    }
    const std::filesystem::path realData = std::filesystem::canonical(dataFolder, error);
    if (error || !Below(realParent, realData)) {
        return {};
    }
    return realParent / name;
}

bool KeptFolder::LiesInside(const std::filesystem::path& folder, const std::filesystem::path& dataFolder) {
    return !RealPlaceInside(folder, dataFolder).empty();
}

KeptFolder::Removal KeptFolder::Remove(const std::filesystem::path& folder,
                                       const std::filesystem::path& dataFolder) {
    std::error_code error;
    if (std::filesystem::symlink_status(folder, error).type() == std::filesystem::file_type::not_found) {
        return Removal::Missing;
    }
    const std::filesystem::path place = RealPlaceInside(folder, dataFolder);
    if (place.empty()) {
        EventLog::Write("[WARNING] %s is not inside the data folder and is not removed", folder.c_str());
        return Removal::Outside;
    }
    int failure = 0;
    if (!DocumentStaging::RemoveFolder(place, true, failure)) {
        if (failure == ENOENT) {
            return Removal::Missing;
        }
        EventLog::Write("Failed to RemoveDirectory %s : error %d", place.c_str(), failure);
        return Removal::Failed;
    }
    return Removal::Removed;
}
