// Feeds a connection's receive buffer with receptions of random sizes and checks what it gives back
// against the plain reading of the same bytes: 0-terminated messages, those over the limit refused.
#include "protocol/ReceiveBuffer.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kLimit = 64;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    ReceiveBuffer buffer(kLimit);
    std::string all;
    std::vector<std::string> messages;
    std::size_t refused = 0;
    while (input.remaining_bytes() > 0) {
        const std::size_t length = input.ConsumeIntegralInRange<std::size_t>(1, 3 * kLimit);
        const std::string reception = input.ConsumeBytesAsString(length);
        all += reception;
        ReceiveBuffer::Result result = buffer.Append(reception);
        refused += result.refused;
        for (std::string& message : result.messages) {
            messages.push_back(std::move(message));
        }
        if (buffer.Pending() >= kLimit) {
            std::abort();
        }
    }

    std::vector<std::string> expected;
    std::size_t expectedRefused = 0;
    std::size_t start = 0;
    for (std::size_t zero = all.find('\0'); zero != std::string::npos; zero = all.find('\0', start)) {
        const std::size_t length = zero - start;
        if (length + 1 > kLimit) {
            ++expectedRefused;
        } else if (length > 0) {
            expected.push_back(all.substr(start, length));
        }
        start = zero + 1;
    }
    // An unfinished message past the limit is refused as soon as it passes it.
    if (all.size() - start + 1 > kLimit) {
        ++expectedRefused;
    }
    if (messages != expected || refused != expectedRefused) {
        std::abort();
    }
    return 0;
}
