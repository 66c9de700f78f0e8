#pragma once

#include <filesystem>

// Where the housekeeping looks: the old installation and the machine-wide autostart entries below
// `root`, the user's own autostart folder, and the program files of this installation. Tests give
// private places.
struct InstallationPaths {
    std::filesystem::path root = "/";
    // The user's configuration folder ($XDG_CONFIG_HOME, or ~/.config); empty when neither is set.
    std::filesystem::path configHome;
    // The running program: what the autostart entry starts.
    std::filesystem::path programFile;
    // What runs the retiring step with administrator rights: "qopra2" beside the running program.
    std::filesystem::path relaunchFile;

    // The program file of the old installation.
    std::filesystem::path OldProgram() const { return root / "opt" / "Tavelko" / "Qopra"; }
    // The machine-wide autostart folder, where the old installation put its entry.
    std::filesystem::path AutostartFolder() const { return root / "etc" / "xdg" / "autostart"; }
    // The user's autostart folder, where this program's entry goes.
    std::filesystem::path UserAutostartFolder() const {
        return configHome.empty() ? std::filesystem::path() : configHome / "autostart";
    }

    // The machine's own places and this process's program.
    static InstallationPaths System();
};
