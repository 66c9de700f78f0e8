#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The bytes one connection has received towards its next messages. Messages end with a 0 byte; the
// buffer grows on demand up to kReceiveBufferLimit. A message that would pass the limit is refused:
// its bytes are dropped up to and including its terminating 0, and the messages after it are read.
class ReceiveBuffer {
public:
    static constexpr std::size_t kReceiveBufferLimit = 10 * 1024 * 1024;

    struct Result {
        std::vector<std::string> messages; // complete messages, in order, without their 0 byte
        std::size_t refused = 0;           // messages dropped for passing the limit
    };

    explicit ReceiveBuffer(std::size_t limit = kReceiveBufferLimit) : limit(limit) {}

    // Appends one reception and takes out every message it completes.
    Result Append(std::string_view data);
    // Bytes held of the unfinished message.
    std::size_t Pending() const { return pending.size(); }
    // Inside a message: some of it has arrived (kept, or dropped because it is too long), not its end.
    bool InMessage() const { return !pending.empty() || discarding; }
    void Clear();

private:
    std::size_t limit;
    std::string pending;
    bool discarding = false; // inside a refused message: drop bytes until its 0
};
