#include "ArchivePacker.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

extern char** environ;

namespace {

// A private folder for the archive, removed with it.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qopra-pad-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            path = pattern;
        }
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (!path.empty()) {
            std::filesystem::remove_all(path, ignored);
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& Path() const { return path; }

private:
    std::filesystem::path path;
};

// Runs 7za in `folder` with no shell and no terminal; its exit status, or -1 when it could not start.
int Run7za(const std::filesystem::path& folder, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    std::vector<std::string> words = arguments;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    pid_t child = 0;
    const int started = posix_spawnp(&child, "7za", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) {
        return -1;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1; // the child cannot be waited for (ECHILD): do not spin for ever
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

std::optional<std::string> ArchivePacker::Pack(const std::filesystem::path& document,
                                               const std::string& archiveName, std::string& error) {
    std::error_code failure;
    const std::filesystem::path absolute = std::filesystem::absolute(document, failure);
    const bool folder = std::filesystem::is_directory(absolute, failure);
    if (failure || (!folder && !std::filesystem::is_regular_file(absolute, failure))) {
        error = "no such document: " + document.string();
        return std::nullopt;
    }
    ScratchFolder scratch;
    if (scratch.Path().empty()) {
        error = "cannot make a temporary folder";
        return std::nullopt;
    }
    const std::filesystem::path archive = scratch.Path() / "archive.7z";
    // Run in the document's folder so that the archive holds the bare file name; a folder is packed
    // with everything in it (a page and its pictures), without the folder's own name.
    const int status =
        folder ? Run7za(absolute, {"7za", "a", "-t7z", "-bd", "-y", archive.string(), "*"})
               : Run7za(absolute.parent_path(),
                        {"7za", "a", "-t7z", "-bd", "-y", archive.string(), absolute.filename().string()});
    if (status != 0) {
        error = status < 0 ? "cannot run 7za" : "7za failed to pack " + document.string();
        return std::nullopt;
    }
    std::ifstream in(archive, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        error = "cannot read the archive for " + archiveName;
        return std::nullopt;
    }
    return bytes;
}
