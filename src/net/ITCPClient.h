#pragma once

#include <string>

// One connection to a client device, as the print-request handling sees it.
class ITCPClient {
public:
    virtual ~ITCPClient() = default;
    virtual bool Connect(const std::string& host, const std::string& port) = 0;
    virtual void Close() = 0;
    // Sends one message: the text in the wire code page followed by its 0 byte.
    virtual void Send(const std::string& text) = 0;
    // "ID" and the tick count when the connection was made; names the connection in the trace.
    virtual std::string Id() const = 0;
    // The device's address as the connection was made to it.
    virtual const std::string& Host() const = 0;
};
