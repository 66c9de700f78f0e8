#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/ITraceSink.h"

// The trace of the headless service: one line per trace line on standard output, its control
// characters written out (EscapeControlCharacters). The network threads
// only queue their lines; a thread of its own writes them, so a reader that is slow, stuck or gone
// never holds up a device. When the queue is full, lines are dropped and the count is written later.
class StdoutTraceSink : public ITraceSink {
public:
    static constexpr std::size_t kQueueLimitBytes = 1024 * 1024;
    // How long the end waits for the queue to be written before it gives up on the reader.
    static constexpr std::chrono::milliseconds kDrainTime{1000};

    explicit StdoutTraceSink(int fd = 1);
    ~StdoutTraceSink() override;
    StdoutTraceSink(const StdoutTraceSink&) = delete;
    StdoutTraceSink& operator=(const StdoutTraceSink&) = delete;

    void TraceLine(const std::string& line) override;
    // Lines dropped so far because the output did not keep up (or is gone).
    std::size_t Dropped() const;

private:
    // Shared with the writer, which may outlive the sink when its reader never reads again.
    struct Queue {
        std::mutex lock;
        std::condition_variable changed;
        std::deque<std::string> lines;
        std::size_t bytes = 0;
        std::size_t dropped = 0;
        std::size_t droppedTotal = 0;
        bool broken = false; // the reader is gone: nothing more can be written
        bool quitting = false;
        bool done = false;
        int fd = 1;
    };

    static void Write(std::shared_ptr<Queue> queue);

    std::shared_ptr<Queue> queue;
    std::thread writer;
};
