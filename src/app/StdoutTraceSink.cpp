#include "app/StdoutTraceSink.h"

#include <cerrno>
#include <system_error>
#include <unistd.h>

#include "platform/Unicode.h"

namespace {

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

StdoutTraceSink::StdoutTraceSink(int fd) : queue(std::make_shared<Queue>()) {
    queue->fd = fd;
    try {
        writer = std::thread(&StdoutTraceSink::Write, queue);
    } catch (const std::system_error&) {
        queue->broken = true; // no writer: lines are counted as dropped rather than held for ever
    }
}

StdoutTraceSink::~StdoutTraceSink() {
    std::unique_lock guard(queue->lock);
    queue->quitting = true;
    queue->changed.notify_all();
    const bool drained = queue->changed.wait_for(guard, kDrainTime, [this] { return queue->done; });
    guard.unlock();
    if (!writer.joinable()) {
        return;
    }
    if (drained) {
        writer.join();
    } else {
        writer.detach(); // stuck in a write nobody reads; it holds its own share of the queue
    }
}

void StdoutTraceSink::TraceLine(const std::string& text) {
    // What devices send is traced: none of it may start a journal line of its own.
    const std::string line = EscapeControlCharacters(text);
    std::lock_guard guard(queue->lock);
    if (queue->broken || queue->bytes + line.size() + 1 > kQueueLimitBytes) {
        ++queue->dropped;
        ++queue->droppedTotal;
        return;
    }
    queue->lines.push_back(line + '\n');
    queue->bytes += line.size() + 1;
    queue->changed.notify_all();
}

std::size_t StdoutTraceSink::Dropped() const {
    std::lock_guard guard(queue->lock);
    return queue->droppedTotal;
}

void StdoutTraceSink::Write(std::shared_ptr<Queue> queue) {
    std::unique_lock guard(queue->lock);
    for (;;) {
        queue->changed.wait(guard, [&] { return queue->quitting || !queue->lines.empty(); });
        if (queue->lines.empty() || queue->broken) {
            if (queue->quitting) {
                break;
            }
            queue->lines.clear();
            queue->bytes = 0;
            continue;
        }
        std::string batch;
        if (queue->dropped > 0) {
            batch = "... " + std::to_string(queue->dropped) + " trace lines dropped, the output was full\n";
            queue->dropped = 0;
        }
        while (!queue->lines.empty()) {
            batch += queue->lines.front();
            queue->lines.pop_front();
        }
        queue->bytes = 0;
        guard.unlock();
        // A service manager or a test reads the lines as they come; a reader that went away (a closed
        // pipe, with SIGPIPE ignored) ends the writing for good.
        const bool written = WriteAll(queue->fd, batch);
        guard.lock();
        if (!written) {
            queue->broken = true;
        }
    }
    queue->done = true;
    queue->changed.notify_all();
}
