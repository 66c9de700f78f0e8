#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

// What the preview page made of one document of the browser road, for the request that waits on it:
// the jobs it submitted, or that it could not print the document. Written once by the page (GUI
// side), read by the request on its own thread, which is woken when the report comes.
class BrowserPrintOutcome {
public:
    struct Result {
        // The document was handed to the spooler with all its copies.
        bool printed = false;
        std::vector<int> jobIds;
        // Why it was not printed, in words.
        std::string reason;
        // Nothing here prints a document of its type.
        bool unsupportedType = false;
    };

    // The first report counts; a record that is dropped unprinted reports not printed.
    void Report(bool printed, std::vector<int> jobIds, std::string reason = {}, bool unsupportedType = false);
    // Nothing while the page is still at work.
    std::optional<Result> Get() const;
    // Waits for the report at most `limit`, or until `stop` is requested.
    std::optional<Result> Wait(std::chrono::milliseconds limit, const std::stop_token& stop) const;
    // Runs `listener` when the report comes (at once when it has come); replaces an earlier one.
    void OnReport(std::function<void()> listener);

private:
    mutable std::mutex lock;
    mutable std::condition_variable_any reported;
    std::optional<Result> result;
    std::function<void()> listener;
};
