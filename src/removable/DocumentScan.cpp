#include "removable/DocumentScan.h"

#include <utility>

DocumentScan::DocumentScan(DocumentFolders folders, BatchHandler onBatch, EndHandler onEnd)
    : worker([folders = std::move(folders), onBatch = std::move(onBatch),
              onEnd = std::move(onEnd)](std::stop_token stop) {
          std::vector<RemovableDocument> batch;
          auto sent = std::chrono::steady_clock::now();
          folders.ScanDocumentFolders(
              [&](RemovableDocument record) {
                  batch.push_back(std::move(record));
                  const auto now = std::chrono::steady_clock::now();
                  if (batch.size() >= kBatchSize || now - sent >= kBatchInterval) {
                      onBatch(std::exchange(batch, {}));
                      sent = now;
                  }
              },
              stop);
          if (stop.stop_requested()) {
              return;
          }
          if (!batch.empty()) {
              onBatch(std::move(batch));
          }
          onEnd();
      }) {}

DocumentScan::~DocumentScan() {
    worker.request_stop();
    worker.join();
}
