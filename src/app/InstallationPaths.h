#pragma once

#include <filesystem>

// Where the housekeeping looks: the old installation and the system-wide autostart entries below
// `root`, and the program files of this installation. Tests give a private root.
struct InstallationPaths {
    std::filesystem::path root = "/";
    // The running program: what the autostart entry starts.
    std::filesystem::path programFile;
    // What a relaunch with administrator rights starts: "qopra2" beside the running program.
    std::filesystem::path relaunchFile;

    // The program file of the old installation.
    std::filesystem::path OldProgram() const { return root / "opt" / "Tavelko" / "Qopra"; }
    std::filesystem::path AutostartFolder() const { return root / "etc" / "xdg" / "autostart"; }

    // The machine's own places and this process's program.
    static InstallationPaths System();
};
