#pragma once

#include <cstddef>
#include <string>

// Handler of discovery datagrams.
class IUDPManager {
public:
    virtual ~IUDPManager() = default;
    // `senderAddress` is the sender's dotted IPv4 address; `onLink` whether it is on a subnet of this
    // machine's interfaces (or the loopback).
    virtual void HandleDatagram(const char* data, std::size_t length, const std::string& senderAddress,
                                bool onLink) = 0;
};
