#include "protocol/ReceiveBuffer.h"

#include <cstring>

// A message fits when its bytes and its terminating 0 fit in the limit.
ReceiveBuffer::Result ReceiveBuffer::Append(std::string_view data) {
    Result result;
    while (!data.empty()) {
        const void* zero = std::memchr(data.data(), 0, data.size());
        const std::size_t length =
            zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - data.data())
                            : data.size();
        const std::size_t consumed = zero != nullptr ? length + 1 : length;

        if (discarding) {
            discarding = zero == nullptr;
        } else if (pending.size() + length >= limit) {
            // Release the memory at once: a refused message must not keep 10 MiB per connection.
            std::string().swap(pending);
            ++result.refused;
            discarding = zero == nullptr;
        } else if (zero == nullptr) {
            pending.append(data);
        } else if (pending.empty()) {
            // A lone 0 byte is no message: nothing to read, nothing to trace.
            if (length > 0) {
                result.messages.emplace_back(data.substr(0, length));
            }
        } else {
            pending.append(data.substr(0, length));
            result.messages.push_back(std::move(pending));
            pending = std::string();
        }
        data.remove_prefix(consumed);
    }
    return result;
}

void ReceiveBuffer::Clear() {
    std::string().swap(pending);
    discarding = false;
}
