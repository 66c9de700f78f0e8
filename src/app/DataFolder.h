#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

// The program's data folder, $XDG_DATA_HOME/Qopra: log, settings, working folders, waiting page and
// the register of printed documents.
class DataFolder {
public:
    // The folder in use (empty when the program runs without one).
    static std::filesystem::path Path();
    static void SetPath(const std::filesystem::path& path);
    // $XDG_DATA_HOME/Qopra, or ~/.local/share/Qopra.
    static std::filesystem::path Locate();
    // Copies the installed defaults into a folder that does not exist yet, private to the user; true
    // when the folder exists afterwards.
    static bool Provision(const std::filesystem::path& folder, const std::filesystem::path& defaults);
    // A folder that other users could enter (one made by an older version) is closed to them, with
    // everything in it: group and other permissions are taken from every folder and file below it,
    // links excepted. How many entries were changed; none when the folder was private already.
    static std::size_t MakePrivate(const std::filesystem::path& folder);
    // share/qopra beside the executable's bin folder.
    static std::filesystem::path InstalledDefaults();
    static std::filesystem::path ExecutableFolder();
    // Why nothing can be written into `folder` (made first when it does not exist yet); nothing when
    // a file can be made there.
    static std::optional<std::string> WriteProblem(const std::filesystem::path& folder);
    // Says on standard error and in the log why the data folder in use (or the one wanted, when the
    // program runs without one) cannot be written; false when it can.
    static bool ReportWriteProblem();
    // The waiting page shown while a PDF is printed.
    static std::filesystem::path WaitingPage();
};
