#include "print/BrowserPrintOutcome.h"

#include <utility>

void BrowserPrintOutcome::Report(bool printed, std::vector<int> jobIds) {
    std::lock_guard guard(lock);
    if (!result) {
        result = Result{printed, std::move(jobIds)};
    }
}

std::optional<BrowserPrintOutcome::Result> BrowserPrintOutcome::Get() const {
    std::lock_guard guard(lock);
    return result;
}
