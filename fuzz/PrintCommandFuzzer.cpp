// Reads one device message as the connection handler does, and everything a print request then takes
// from it: the decoded document, the names and the copies.
#include "protocol/Base64.h"
#include "protocol/PrintCommand.h"

#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const PrintCommand command;
    const CommandMessage message =
        command.ReadMessage(std::string(reinterpret_cast<const char*>(data), size));
    if (message.status != IPrintCommand::kComplete && message.status != IPrintCommand::kLoadError &&
        message.status != IPrintCommand::kParseError && message.status != IPrintCommand::kParameterMissing) {
        std::abort();
    }
    if (message.print.has_value() != (message.commandType == IPrintCommand::kCommandPFL)) {
        std::abort();
    }
    if (message.print) {
        const std::string_view content = message.print->content.View();
        std::vector<char> decoded(Base64::MaxDecodedSize(content.size()));
        if (Base64::DecodeInto(content, decoded.data()) > content.size() / 4 * 3 + 2) {
            std::abort();
        }
        // Decoded in pieces, as the received file is written, the bytes are the same.
        Base64::Decoder pieces;
        std::string again;
        for (std::size_t at = 0; at < content.size(); at += 7) {
            std::vector<char> out(Base64::MaxDecodedSize(7));
            again.append(out.data(), pieces.Feed(content.substr(at, 7), out.data()));
        }
        char tail[4];
        again.append(tail, pieces.Finish(tail));
        if (again != Base64::Decode(content)) {
            std::abort();
        }
        if (message.print->copies < 1 || message.print->copies > 999) {
            std::abort();
        }
        (void)command.BuildPrintResult(message.status, 0);
    }
    return 0;
}
