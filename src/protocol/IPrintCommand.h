#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Reads command messages and builds the server's messages. Texts are UTF-8; the connection converts
// them to and from the wire code page.
class IPrintCommand {
public:
    // Status of a read message.
    static constexpr int kComplete = 0;
    static constexpr int kIncomplete = 1;
    static constexpr int kLoadError = 2;
    static constexpr int kParseError = 3;

    virtual ~IPrintCommand() = default;
    // Reads one complete message (its bytes in the wire code page, without the 0 byte) and returns
    // kComplete, kLoadError or kParseError. A print command without a required parameter throws
    // PrintCommandError.
    virtual int ReadMessage(std::string_view wireBytes) = 0;
    // Text of the latest reception, for the trace.
    virtual std::string LastReceivedText() const = 0;
    virtual std::string BuildPrinterList(const std::string& hostName,
                                         const std::vector<std::string>& printerNames) const = 0;
    virtual std::string BuildPrintResult(int result, std::uint32_t reason) const = 0;
};
