#include "app/InstallationPaths.h"

#include <cstdlib>

#include "app/DataFolder.h"

InstallationPaths InstallationPaths::System() {
    InstallationPaths paths;
    std::error_code error;
    paths.programFile = std::filesystem::read_symlink("/proc/self/exe", error);
    paths.relaunchFile = DataFolder::ExecutableFolder() / "qopra2";
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/') {
        paths.configHome = config;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        paths.configHome = std::filesystem::path(home) / ".config";
    }
    return paths;
}
