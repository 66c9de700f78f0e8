#pragma once

#include "protocol/IPrintCommand.h"

#include <pugixml.hpp>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Reads the command messages of devices and builds the server's printer-list and print-result
// messages. Not safe for concurrent use: the connections call it under one lock.
class PrintCommand : public IPrintCommand {
public:
    static constexpr int kCommandNone = 0;
    static constexpr int kCommandPRQ = 1;
    static constexpr int kCommandPRF = 2;
    static constexpr int kCommandPFL = 3;
    // Copies when a print command names none.
    static constexpr int kDefaultCopies = 1;
    // Characters of a message kept for the trace; a print command carries megabytes of Base64.
    static constexpr std::size_t kTraceTextLimit = 2048;
    // "<" and "=" a message may hold (an element has two "<", an attribute one "="). A print command
    // has a few dozen; without a bound a message of empty elements makes the parser take twenty times
    // its size.
    static constexpr std::size_t kMarkupLimit = 256 * 1024;

    PrintCommand();

    int ReadMessage(std::string_view wireBytes) override;
    std::string LastReceivedText() const override { return lastReceivedText; }
    std::string BuildPrinterList(const std::string& hostName,
                                 const std::vector<std::string>& printerNames) const override;
    std::string BuildPrintResult(int result, std::uint32_t reason) const override;

    int CommandType() const { return commandType; }
    // The document's bytes in Base64.
    const std::string& FileContent() const { return fileContent; }
    const std::string& FileName() const { return fileName; }
    const std::string& FilePreview() const { return filePreview; }
    // The printer as the device named it.
    const std::string& PrinterName() const { return printerName; }
    int Copies() const { return copies; }
    std::string CopiesText() const { return std::to_string(copies); }
    // The installed printer behind the device's name (its alias resolved).
    std::string ResolvedPrinter() const;

    // The leading decimal number of a copies text: blanks before it and a sign are allowed, a text
    // without digits or a negative number gives 0, a number too large for an int gives the largest.
    static int ParseCopies(std::string_view text);

private:
    bool LoadDocument(std::string_view wireBytes);
    int ReadCommand();
    void ReadPrintFile(pugi::xml_node commandNode);

    int commandType = kCommandNone;
    std::string fileContent;
    std::string fileName;
    std::string filePreview;
    std::string printerName;
    int copies = kDefaultCopies;

    // The text of the message being read, parsed in place by `document`.
    std::string messageText;
    pugi::xml_document document;
    std::string lastReceivedText;

    pugi::xpath_query commandQuery;
    pugi::xpath_query fileContentQuery;
    pugi::xpath_query fileNameQuery;
    pugi::xpath_query printerQuery;
    pugi::xpath_query filePreviewQuery;
    pugi::xpath_query copiesQuery;
};
