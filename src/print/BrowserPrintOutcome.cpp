#include "print/BrowserPrintOutcome.h"

#include <utility>

void BrowserPrintOutcome::Report(bool printed, std::vector<int> jobIds, std::string reason,
                                 bool unsupportedType) {
    std::function<void()> tell;
    {
        std::lock_guard guard(lock);
        if (result) {
            return;
        }
        result = Result{printed, std::move(jobIds), std::move(reason), unsupportedType};
        tell = listener;
    }
    reported.notify_all();
    if (tell) {
        tell();
    }
}

std::optional<BrowserPrintOutcome::Result> BrowserPrintOutcome::Get() const {
    std::lock_guard guard(lock);
    return result;
}

std::optional<BrowserPrintOutcome::Result> BrowserPrintOutcome::Wait(std::chrono::milliseconds limit,
                                                                     const std::stop_token& stop) const {
    std::unique_lock guard(lock);
    reported.wait_for(guard, stop, limit, [this] { return result.has_value(); });
    return result;
}

void BrowserPrintOutcome::OnReport(std::function<void()> newListener) {
    bool already = false;
    {
        std::lock_guard guard(lock);
        listener = newListener;
        already = result.has_value();
    }
    if (already && newListener) {
        newListener();
    }
}
