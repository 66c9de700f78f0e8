#pragma once

#include "protocol/IPrintCommand.h"

#include <pugixml.hpp>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Reads the command messages of devices and builds the server's printer-list and print-result
// messages. A print command becomes a request of its own; the object keeps no message.
class PrintCommand : public IPrintCommand {
public:
    // Copies when a print command names none.
    static constexpr int kDefaultCopies = 1;
    // Characters of a message kept for the trace; a print command carries megabytes of Base64.
    static constexpr std::size_t kTraceTextLimit = 2048;
    // "<" and "=" a message may hold (an element has two "<", an attribute one "="). A print command
    // has a few dozen; without a bound a message of empty elements makes the parser take twenty times
    // its size.
    static constexpr std::size_t kMarkupLimit = 256 * 1024;

    PrintCommand();

    // Safe to call from several threads at once: nothing of a message stays behind in the object.
    CommandMessage ReadMessage(std::string wireBytes) const override;
    std::string BuildPrinterList(const std::string& hostName,
                                 const std::vector<std::string>& printerNames) const override;
    std::string BuildPrintResult(int result, std::uint32_t reason) const override;

    // The leading decimal number of a copies text: blanks before it and a sign are allowed, a text
    // without digits or a negative number gives 0, a number too large for an int gives the largest.
    static int ParseCopies(std::string_view text);

private:
    PrintRequest ReadPrintFile(pugi::xml_node commandNode, const std::shared_ptr<std::string>& text,
                               std::string& missing) const;

    pugi::xpath_query commandQuery;
    pugi::xpath_query fileContentQuery;
    pugi::xpath_query fileNameQuery;
    pugi::xpath_query printerQuery;
    pugi::xpath_query filePreviewQuery;
    pugi::xpath_query copiesQuery;
};
