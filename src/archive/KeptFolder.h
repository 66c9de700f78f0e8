#pragma once

#include <filesystem>

// The working folder that a register entry keeps as the backup copy of a printed document. Only
// folders inside the data folder are ours to delete: the register is a file a person can edit, and an
// entry must never turn Delete loose on the rest of the disk.
class KeptFolder {
public:
    enum class Removal {
        Removed,
        Missing, // nothing by that name any more
        Outside, // not below the data folder, once the links on the way are resolved: left alone
        Failed,
    };

    // True when `folder` is below `dataFolder` (the data folder itself is not), with symbolic links
    // in the folders on the way resolved; the last name itself is taken as it is, link or not.
    static bool LiesInside(const std::filesystem::path& folder, const std::filesystem::path& dataFolder);
    // Removes the folder with its contents when it lies inside `dataFolder`. Links are never followed:
    // a link in its place, or inside it, goes by itself and what it points at stays.
    static Removal Remove(const std::filesystem::path& folder, const std::filesystem::path& dataFolder);

private:
    // The folder's real place (links in the folders on the way resolved, its own name kept) when that
    // is below the data folder; empty otherwise.
    static std::filesystem::path RealPlaceInside(const std::filesystem::path& folder,
                                                 const std::filesystem::path& dataFolder);
};
