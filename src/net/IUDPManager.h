#pragma once

#include <cstddef>
#include <string>

// Handler of discovery datagrams.
class IUDPManager {
public:
    virtual ~IUDPManager() = default;
    // `senderAddress` is the sender's dotted IPv4 address.
    virtual void HandleDatagram(const char* data, std::size_t length, const std::string& senderAddress) = 0;
};
