#pragma once

#include <optional>
#include <string>
#include <vector>

// The messages qopra-pad exchanges with the server. Texts are UTF-8 here and in the wire code page on
// the connection.
struct PrinterList {
    std::string hostName;
    std::vector<std::string> printers;
};

struct PrintAnswer {
    int result = 0;
    unsigned long reason = 0;
};

class PadMessages {
public:
    static std::string PrintFile(const std::string& archiveName, const std::string& base64,
                                 const std::string& preview, const std::string& printer, int copies);
    static std::string CloseRequest();
    static std::optional<PrinterList> ReadPrinterList(const std::string& wireBytes);
    static std::optional<PrintAnswer> ReadPrintResult(const std::string& wireBytes);
};
