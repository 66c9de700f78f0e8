#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/PrintRequest.h"

// What one complete message of a device says: its status, its command, and for a print command the
// request it makes.
struct CommandMessage {
    int status = 0;
    int commandType = 0;
    std::optional<PrintRequest> print;
};

// Reads command messages and builds the server's messages. Texts are UTF-8; the connection converts
// them to and from the wire code page.
class IPrintCommand {
public:
    // The command a message carries.
    static constexpr int kCommandNone = 0;
    static constexpr int kCommandPRQ = 1;
    static constexpr int kCommandPRF = 2;
    static constexpr int kCommandPFL = 3;

    // Status of a read message.
    static constexpr int kComplete = 0;
    static constexpr int kIncomplete = 1;
    static constexpr int kLoadError = 2;
    static constexpr int kParseError = 3;
    // A print command without one of its required parameters.
    static constexpr int kParameterMissing = 4;

    virtual ~IPrintCommand() = default;
    // Reads one complete message (its bytes in the wire code page, without the 0 byte). Takes the
    // bytes over: a print request keeps them for as long as it needs its document's Base64.
    virtual CommandMessage ReadMessage(std::string wireBytes) const = 0;
    virtual std::string BuildPrinterList(const std::string& hostName,
                                         const std::vector<std::string>& printerNames) const = 0;
    virtual std::string BuildPrintResult(int result, std::uint32_t reason) const = 0;
};
