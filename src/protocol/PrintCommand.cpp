#include "protocol/PrintCommand.h"

#include "config/AppSettings.h"
#include "platform/CodePage.h"
#include "protocol/Copies.h"
#include "xml/StrictXml.h"
#include "xml/XmlFile.h"

#include <climits>
#include <cstdint>
#include <cstring>

namespace {

constexpr char kTypePRQ[] = "PRQ";
constexpr char kTypePRF[] = "PRF";
constexpr char kTypePFL[] = "PFL";

constexpr char kPrintResultBegin[] = "<commands><command type=\"PRP\"><parameters>";
constexpr char kPrinterListBegin[] = "<commands><command type=\"PLS\"><parameters>";
constexpr char kHostNameBegin[] = "<parameter type =\"HOST_NAME\">";
constexpr char kPrinterNameBegin[] = "<parameter type =\"PRN_NAME\">";
constexpr char kResultBegin[] = "<parameter type =\"RESULT\">";
constexpr char kParameterEnd[] = "</parameter>";
constexpr char kReasonBegin[] = "<error reason =\"RESULT\">";
constexpr char kReasonEnd[] = "</error>";
constexpr char kMessageEnd[] = "</parameters></command></commands>";

// An all-ASCII message reads the same in every code page devices use, so it needs no conversion.
bool IsAscii(std::string_view bytes) {
    constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
    std::uint64_t seen = 0;
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    for (; left >= sizeof seen; left -= sizeof seen, p += sizeof seen) {
        std::uint64_t word = 0;
        std::memcpy(&word, p, sizeof word);
        seen |= word;
    }
    for (; left > 0; --left, ++p) {
        seen |= static_cast<unsigned char>(*p);
    }
    return (seen & kHighBits) == 0;
}

// The document's Base64, where it lies in the message when it is one piece of text there; a text the
// parser put together elsewhere (references, several pieces) is copied.
SharedText ContentOf(const pugi::xml_node& node, const std::shared_ptr<std::string>& text) {
    const pugi::xml_node first = node.first_child();
    if (first && !first.next_sibling() &&
        (first.type() == pugi::node_pcdata || first.type() == pugi::node_cdata)) {
        const char* value = first.value();
        const char* begin = text->data();
        if (value >= begin && value < begin + text->size()) {
            return SharedText(text, std::string_view(value, std::strlen(value)));
        }
    }
    return SharedText(XmlFile::TextContent(node));
}

void AppendEscaped(std::string& text, std::string_view value) {
    for (const char c : value) {
        switch (c) {
        case '&':
            text += "&amp;";
            break;
        case '<':
            text += "&lt;";
            break;
        case '>':
            text += "&gt;";
            break;
        case '"':
            text += "&quot;";
            break;
        default:
            text += c;
        }
    }
}

} // namespace

PrintCommand::PrintCommand()
    : commandQuery("//command"), fileContentQuery("//parameter[@type=\"FILE_CONTENT\"]"),
      fileNameQuery("//parameter[@type=\"FILE_NAME\"]"), printerQuery("//parameter[@type=\"PRINTER\"]"),
      filePreviewQuery("//parameter[@type=\"FILE_PREVIEW\"]"), copiesQuery("//parameter[@type=\"COPIES\"]") {}

CommandMessage PrintCommand::ReadMessage(std::string wireBytes) const {
    CommandMessage message;
    // The text of a message ends at its first 0 byte.
    if (const std::size_t zero = wireBytes.find('\0'); zero != std::string::npos) {
        wireBytes.resize(zero);
    }
    // An all-ASCII message reads the same in every code page: parsed where it lies, no copy.
    auto text = std::make_shared<std::string>(IsAscii(wireBytes) ? std::move(wireBytes)
                                                                 : CodePage::Wire().Decode(wireBytes));
    pugi::xml_document document;
    if (!StrictXml::Parse(document, text->data(), text->size(), pugi::parse_default, kMarkupLimit)) {
        message.status = kLoadError;
        return message;
    }
    const pugi::xml_node commandNode = commandQuery.evaluate_node(document).node();
    const pugi::xml_attribute type = commandNode.attribute("type");
    if (!commandNode || !type) {
        message.status = kParseError;
        return message;
    }
    message.status = kComplete;
    const std::string_view typeText = type.value();
    if (typeText == kTypePRQ) {
        message.commandType = kCommandPRQ;
    } else if (typeText == kTypePRF) {
        message.commandType = kCommandPRF;
    } else if (typeText == kTypePFL) {
        std::string missing;
        PrintRequest request = ReadPrintFile(commandNode, text, missing);
        if (!missing.empty()) {
            message.status = kParameterMissing;
            return message;
        }
        message.commandType = kCommandPFL;
        message.print = std::move(request);
    }
    return message;
}

PrintRequest PrintCommand::ReadPrintFile(pugi::xml_node commandNode, const std::shared_ptr<std::string>& text,
                                         std::string& missing) const {
    const pugi::xpath_node context(commandNode);
    const pugi::xml_node contentNode = fileContentQuery.evaluate_node(context).node();
    const pugi::xml_node nameNode = fileNameQuery.evaluate_node(context).node();
    const pugi::xml_node printerNode = printerQuery.evaluate_node(context).node();
    const pugi::xml_node previewNode = filePreviewQuery.evaluate_node(context).node();
    const pugi::xml_node copiesNode = copiesQuery.evaluate_node(context).node();

    PrintRequest request;
    missing = !contentNode   ? "FILE_CONTENT"
              : !nameNode    ? "FILE_NAME"
              : !printerNode ? "PRINTER"
              : !previewNode ? "FILE_PREVIEW"
                             : "";
    if (!missing.empty()) {
        return request;
    }
    request.content = ContentOf(contentNode, text);
    request.fileName = XmlFile::TextContent(nameNode);
    request.printerName = XmlFile::TextContent(printerNode);
    request.printer = AppSettings::Instance().ResolvePrinterName(request.printerName);
    request.documentName = XmlFile::TextContent(previewNode);
    request.requestedCopies = copiesNode ? ParseCopies(XmlFile::TextContent(copiesNode)) : kDefaultCopies;
    request.copies = Copies::Bound(request.requestedCopies);
    return request;
}

int PrintCommand::ParseCopies(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long number = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        number = number * 10 + (text[i] - '0');
        if (number > INT_MAX) {
            number = INT_MAX;
        }
    }
    return negative ? 0 : static_cast<int>(number);
}

std::string PrintCommand::BuildPrinterList(const std::string& hostName,
                                           const std::vector<std::string>& printerNames) const {
    std::string text = kPrinterListBegin;
    text += kHostNameBegin;
    AppendEscaped(text, hostName);
    text += kParameterEnd;
    for (const std::string& name : printerNames) {
        text += kPrinterNameBegin;
        AppendEscaped(text, name);
        text += kParameterEnd;
    }
    text += kMessageEnd;
    return text;
}

std::string PrintCommand::BuildPrintResult(int result, std::uint32_t reason) const {
    std::string text = kPrintResultBegin;
    text += kResultBegin;
    text += std::to_string(result);
    text += kParameterEnd;
    text += kReasonBegin;
    text += std::to_string(reason);
    text += kReasonEnd;
    text += kMessageEnd;
    return text;
}
