// Reads one device message as the connection handler does, and everything a print request then takes
// from it: the decoded document, the names and the copies.
#include "protocol/Base64.h"
#include "protocol/PrintCommand.h"
#include "protocol/PrintCommandError.h"

#include <cstdlib>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static PrintCommand command;
    const std::string_view message(reinterpret_cast<const char*>(data), size);
    int status = IPrintCommand::kLoadError;
    try {
        status = command.ReadMessage(message);
    } catch (const PrintCommandError&) {
        return 0;
    }
    if (status != IPrintCommand::kComplete && status != IPrintCommand::kLoadError &&
        status != IPrintCommand::kParseError) {
        std::abort();
    }
    if (status == IPrintCommand::kComplete && command.CommandType() == PrintCommand::kCommandPFL) {
        const std::string& content = command.FileContent();
        std::vector<char> decoded(Base64::MaxDecodedSize(content.size()));
        if (Base64::DecodeInto(content, decoded.data()) > content.size() / 4 * 3 + 2) {
            std::abort();
        }
        if (command.Copies() < 0) {
            std::abort();
        }
        (void)command.BuildPrintResult(status, 0);
    }
    return 0;
}
