#pragma once

#include <filesystem>
#include <mutex>

struct PrintRequest;

// The working folders of requests while backup is off: each request has its own below "pf", removed
// when the request ends, except the last one printed, which stays until the next is printed: the main
// window may still show its document. Kept folders of backup mode are never touched here.
class StagingFolders {
public:
    void Retire(const PrintRequest& request, bool printed);

private:
    std::mutex lock;
    std::filesystem::path lastPrinted;
};
