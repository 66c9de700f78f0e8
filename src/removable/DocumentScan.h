#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

#include "removable/DocumentFolders.h"
#include "removable/RemovableDocument.h"

// One listing of the documents on the removable drives, on a worker of its own: reading every
// description file (and writing the printed mark into those without it) takes seconds on a big or slow
// drive, which no window may wait for. The records come in batches as they are read, in the order of
// the drives; then the end is told. The handlers run on the worker. Destroying the scan stops it
// before the next document folder and waits for the worker, so no handler runs afterwards.
class DocumentScan {
public:
    // A batch goes out when it holds this many records, or when this long has passed since the last.
    static constexpr std::size_t kBatchSize = 200;
    static constexpr std::chrono::milliseconds kBatchInterval{50};

    using BatchHandler = std::function<void(std::vector<RemovableDocument>)>;
    using EndHandler = std::function<void()>;

    DocumentScan(DocumentFolders folders, BatchHandler onBatch, EndHandler onEnd);
    ~DocumentScan();
    DocumentScan(const DocumentScan&) = delete;
    DocumentScan& operator=(const DocumentScan&) = delete;

private:
    // Last: it ends before the members it uses.
    std::jthread worker;
};
