#pragma once

#include <mutex>
#include <optional>
#include <vector>

// What the preview page made of one document of the browser road, for the request that waits on it:
// the jobs it submitted, or that it could not print the document. Written once by the page (GUI
// side), read by the request's watch on its own thread.
class BrowserPrintOutcome {
public:
    struct Result {
        // Every copy was handed to the spooler.
        bool printed = false;
        std::vector<int> jobIds;
    };

    // The first report counts; a record that is dropped unprinted reports not printed.
    void Report(bool printed, std::vector<int> jobIds);
    // Nothing while the page is still at work.
    std::optional<Result> Get() const;

private:
    mutable std::mutex lock;
    std::optional<Result> result;
};
