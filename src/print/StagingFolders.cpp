#include "print/StagingFolders.h"

#include "app/EventLog.h"
#include "print/DocumentStaging.h"
#include "protocol/PrintRequest.h"

namespace {

void Remove(const std::filesystem::path& folder) {
    int error = 0;
    if (!folder.empty() && !DocumentStaging::RemoveFolder(folder, true, error) && error != ENOENT) {
        EventLog::Write("Failed to RemoveDirectory %s : error %d", folder.c_str(), error);
    }
}

} // namespace

void StagingFolders::Retire(const PrintRequest& request, bool printed) {
    if (request.folderKept || request.workingFolder.empty()) {
        return;
    }
    std::filesystem::path gone = request.workingFolder;
    if (printed) {
        std::lock_guard guard(lock);
        std::swap(gone, lastPrinted);
    }
    Remove(gone);
}
