#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// A process of this machine as /proc shows it.
struct RunningProcess {
    pid_t pid = 0;
    // The kernel's short name of the program (/proc/<pid>/comm, at most 15 bytes).
    std::string name;
};

// Every process that still runs, in /proc order; processes that have ended and wait for their parent
// (zombies) are left out.
std::vector<RunningProcess> ListRunningProcesses();
// The short name of one process; empty when it is gone or cannot be read.
std::string ProcessName(pid_t pid);
// The user whose rights a process has (its effective user id); nothing when it is gone.
std::optional<uid_t> ProcessUser(pid_t pid);
