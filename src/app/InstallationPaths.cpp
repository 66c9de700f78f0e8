#include "app/InstallationPaths.h"

#include "app/DataFolder.h"

InstallationPaths InstallationPaths::System() {
    InstallationPaths paths;
    std::error_code error;
    paths.programFile = std::filesystem::read_symlink("/proc/self/exe", error);
    paths.relaunchFile = DataFolder::ExecutableFolder() / "qopra2";
    return paths;
}
