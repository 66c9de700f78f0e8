#include "protocol/PrintCommand.h"

#include "config/AppSettings.h"
#include "platform/CodePage.h"
#include "protocol/PrintCommandError.h"
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

// The first `count` characters of a UTF-8 text.
std::string_view Utf8Head(std::string_view text, std::size_t count) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool startsCharacter = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (startsCharacter && characters++ == count) {
            return text.substr(0, i);
        }
    }
    return text;
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

int PrintCommand::ReadMessage(std::string_view wireBytes) {
    // A message that fails to load carries no command either.
    commandType = kCommandNone;
    // The text of a message ends at its first 0 byte.
    if (const void* zero = std::memchr(wireBytes.data(), 0, wireBytes.size())) {
        wireBytes =
            wireBytes.substr(0, static_cast<std::size_t>(static_cast<const char*>(zero) - wireBytes.data()));
    }

    // The parsed text is only needed while the command is read; a print command's copy is megabytes.
    struct ReleaseText {
        PrintCommand& owner;
        ~ReleaseText() {
            owner.document.reset();
            std::string().swap(owner.messageText);
        }
    } release{*this};

    if (!LoadDocument(wireBytes)) {
        return kLoadError;
    }
    return ReadCommand();
}

bool PrintCommand::LoadDocument(std::string_view wireBytes) {
    if (IsAscii(wireBytes)) {
        messageText.assign(wireBytes);
    } else {
        messageText = CodePage::Wire().Decode(wireBytes);
    }
    lastReceivedText = Utf8Head(messageText, kTraceTextLimit);

    return StrictXml::Parse(document, messageText.data(), messageText.size(), pugi::parse_default,
                            kMarkupLimit);
}

int PrintCommand::ReadCommand() {
    commandType = kCommandNone;
    const pugi::xml_node commandNode = commandQuery.evaluate_node(document).node();
    if (!commandNode) {
        return kParseError;
    }
    const pugi::xml_attribute type = commandNode.attribute("type");
    if (!type) {
        return kParseError;
    }
    const std::string_view typeText = type.value();
    if (typeText == kTypePRQ) {
        commandType = kCommandPRQ;
    } else if (typeText == kTypePRF) {
        commandType = kCommandPRF;
    } else if (typeText == kTypePFL) {
        ReadPrintFile(commandNode);
        commandType = kCommandPFL;
    }
    return kComplete;
}

void PrintCommand::ReadPrintFile(pugi::xml_node commandNode) {
    const pugi::xpath_node context(commandNode);
    const pugi::xml_node contentNode = fileContentQuery.evaluate_node(context).node();
    const pugi::xml_node nameNode = fileNameQuery.evaluate_node(context).node();
    const pugi::xml_node printerNode = printerQuery.evaluate_node(context).node();
    const pugi::xml_node previewNode = filePreviewQuery.evaluate_node(context).node();
    const pugi::xml_node copiesNode = copiesQuery.evaluate_node(context).node();

    // Checked before any field changes, so a refused command leaves no half-read request behind.
    if (!contentNode) {
        throw PrintCommandError("print command without FILE_CONTENT");
    }
    if (!nameNode) {
        throw PrintCommandError("print command without FILE_NAME");
    }
    if (!printerNode) {
        throw PrintCommandError("print command without PRINTER");
    }
    if (!previewNode) {
        throw PrintCommandError("print command without FILE_PREVIEW");
    }

    fileContent = XmlFile::TextContent(contentNode);
    fileName = XmlFile::TextContent(nameNode);
    printerName = XmlFile::TextContent(printerNode);
    filePreview = XmlFile::TextContent(previewNode);
    copies = copiesNode ? ParseCopies(XmlFile::TextContent(copiesNode)) : kDefaultCopies;
}

std::string PrintCommand::ResolvedPrinter() const {
    return AppSettings::Instance().ResolvePrinterName(printerName);
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
