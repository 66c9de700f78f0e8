#include "xml/XmlTextDocument.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

#include "platform/AtomicFile.h"
#include "platform/CodePage.h"
#include "platform/CodePageNames.h"
#include "platform/EncodingTables.h"
#include "platform/IconvConverter.h"
#include "platform/TextEncoding.h"
#include "platform/Unicode.h"

namespace {

constexpr std::size_t kReferenceNameLimit = 9;
constexpr std::size_t kSystemMessageLimit = 100;
constexpr char16_t kByteEscape = 0xDC00;
constexpr const char* kIconvUtf16 = "UTF-16LE";
constexpr std::u16string_view kCrLf = u"\r\n";

bool IsSpace(char16_t c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsNameStart(char16_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ':' || c == '_' || c >= 0x80;
}

bool IsNameChar(char16_t c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

std::string AsciiView(std::u16string_view text) {
    std::string ascii;
    ascii.reserve(std::min(text.size(), TextEncoding::kDeclarationWindow));
    for (std::size_t i = 0; i < text.size() && i < TextEncoding::kDeclarationWindow; ++i) {
        ascii.push_back(text[i] < 0x80 ? static_cast<char>(text[i]) : '?');
    }
    return ascii;
}

std::u16string UnitsFromLittleEndian(std::string_view bytes) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return units;
}

void AppendUnits(std::string& out, std::u16string_view units, bool bigEndian) {
    out.reserve(out.size() + units.size() * 2);
    for (const char16_t unit : units) {
        const char low = static_cast<char>(unit & 0xFF);
        const char high = static_cast<char>(unit >> 8);
        out.push_back(bigEndian ? high : low);
        out.push_back(bigEndian ? low : high);
    }
}

std::u16string ToUtf16(std::string_view bytes, const std::string& iconvName) {
    IconvConverter converter(kIconvUtf16, iconvName);
    const std::string converted = converter.Run(bytes, [](std::string_view rest, std::string& out) {
        const char16_t escape = kByteEscape + static_cast<unsigned char>(rest[0]);
        AppendUnits(out, std::u16string_view(&escape, 1), false);
        return std::size_t{1};
    });
    return UnitsFromLittleEndian(converted);
}

std::string FromUtf16(std::u16string_view text, const std::string& iconvName, std::size_t& lost) {
    std::string units;
    AppendUnits(units, text, false);
    IconvConverter converter(iconvName, kIconvUtf16);
    return converter.Run(units, [&lost](std::string_view rest, std::string& out) -> std::size_t {
        if (rest.size() < 2) {
            return rest.size();
        }
        const char16_t unit = UnitsFromLittleEndian(rest.substr(0, 2))[0];
        if (unit >= kByteEscape && unit <= kByteEscape + 0xFF) {
            out.push_back(static_cast<char>(unit - kByteEscape));
            return 2;
        }
        ++lost;
        out.push_back('?');
        const bool pair = unit >= 0xD800 && unit <= 0xDBFF && rest.size() >= 4;
        return pair ? 4 : 2;
    });
}

struct EntityIndexes {
    std::unordered_map<std::string, char32_t> exact;
    // Lower-cased names, for references written in another letter case than any entity's; where
    // two entities differ only in case, the capital letter's wins there.
    std::unordered_map<std::string, char32_t> folded;
};

const EntityIndexes& Entities() {
    static const EntityIndexes indexes = [] {
        EntityIndexes built;
        for (const CharacterEntity& entity : EmbeddedCharacterEntities()) {
            const std::string name = entity.name;
            const std::string lower = AsciiLower(name);
            built.exact.emplace(name, entity.character);
            if (name != lower) {
                built.folded[lower] = entity.character;
            } else {
                built.folded.emplace(lower, entity.character);
            }
        }
        return built;
    }();
    return indexes;
}

std::optional<char32_t> ReferencedCharacter(const std::string& name) {
    char32_t number = 0;
    if (name.size() >= 2 && name[0] == '#') {
        const bool hex = name[1] == 'x' || name[1] == 'X';
        const std::string digits = AsciiLower(std::string_view(name).substr(hex ? 2 : 1));
        if (digits.empty()) {
            return std::nullopt;
        }
        for (const char c : digits) {
            int value = -1;
            if (c >= '0' && c <= '9') {
                value = c - '0';
            } else if (hex && c >= 'a' && c <= 'f') {
                value = c - 'a' + 10;
            }
            if (value < 0) {
                return std::nullopt;
            }
            number = number * (hex ? 16 : 10) + static_cast<char32_t>(value);
            if (number > 0x10FFFF) {
                return std::nullopt;
            }
        }
    } else {
        // Entity names are case-sensitive: "uuml" is the small letter, "Uuml" the capital.
        const EntityIndexes& entities = Entities();
        auto found = entities.exact.find(name);
        if (found == entities.exact.end()) {
            found = entities.folded.find(AsciiLower(name));
            if (found == entities.folded.end()) {
                return std::nullopt;
            }
        }
        number = found->second;
    }
    // Not characters: a reference to them stays as written.
    if (number == 0 || (number >= 0xD800 && number <= 0xDFFF)) {
        return std::nullopt;
    }
    return number;
}

std::string Number(std::size_t value) {
    return std::to_string(value);
}

std::u16string_view View(const std::u16string& text, std::size_t from, std::size_t to) {
    return std::u16string_view(text).substr(from, to - from);
}

} // namespace

void XmlTextDocument::Clear() {
    text.clear();
    elements.assign(1, Element{});
    currentParent = 0;
    currentElement = 0;
    mark = ByteOrderMark::None;
    loadedCodePage.reset();
    oddByte.reset();
    wellFormed = false;
    resultLog.clear();
}

void XmlTextDocument::Record(const char* event, const Attributes& attributes) {
    if (resultLog.size() > kResultLogLimit) {
        return;
    }
    resultLog += '<';
    resultLog += event;
    for (const auto& [name, value] : attributes) {
        resultLog += ' ';
        resultLog += name;
        resultLog += "=\"";
        for (const char c : value) {
            switch (c) {
            case '&':
                resultLog += "&amp;";
                break;
            case '<':
                resultLog += "&lt;";
                break;
            case '"':
                resultLog += "&quot;";
                break;
            default:
                resultLog += c;
            }
        }
        resultLog += '"';
    }
    resultLog += "/>";
}

void XmlTextDocument::RecordFileError(int error, const char* message) {
    std::string text = message != nullptr ? message : std::strerror(error);
    text = Utf8Prefix(text.substr(0, text.find('\n')), kSystemMessageLimit);
    Record("file_error", {{"n", std::to_string(error)}, {"msg", text}});
}

bool XmlTextDocument::LoadFile(const std::filesystem::path& path) {
    Clear();
    // Not blocking: a named pipe on a drive must not hold the caller.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        RecordFileError(errno);
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        RecordFileError(EINVAL, "not a regular file");
        ::close(fd);
        return false;
    }
    if (static_cast<std::uintmax_t>(status.st_size) > kFileSizeLimit) {
        RecordFileError(EFBIG);
        ::close(fd);
        return false;
    }
    std::string bytes;
    bytes.resize(static_cast<std::size_t>(status.st_size) + 1);
    std::size_t done = 0;
    while (true) {
        if (done == bytes.size()) {
            if (bytes.size() > kFileSizeLimit) {
                RecordFileError(EFBIG);
                ::close(fd);
                return false;
            }
            bytes.resize(bytes.size() * 2);
        }
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            RecordFileError(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(done);
    Decode(bytes);
    Parse();
    return wellFormed;
}

void XmlTextDocument::Decode(std::string_view data) {
    // Only the marks of UTF-8 and UTF-16: FF FE 00 00 is UTF-16 beginning with a NUL, which goes.
    const TextEncoding::Mark found = TextEncoding::MarkOf(data, false);
    std::string encoding = TextEncoding::IconvName(found);
    const bool wide =
        found == TextEncoding::Mark::Utf16LittleEndian || found == TextEncoding::Mark::Utf16BigEndian;
    const bool bigEndian = found == TextEncoding::Mark::Utf16BigEndian;
    data.remove_prefix(TextEncoding::MarkBytes(found).size());
    if (found != TextEncoding::Mark::None) {
        mark = found == TextEncoding::Mark::Utf8 ? ByteOrderMark::Utf8
               : bigEndian                       ? ByteOrderMark::Utf16BigEndian
                                                 : ByteOrderMark::Utf16LittleEndian;
        Record("bom", {{"encoding", encoding}});
    } else {
        encoding = TextEncoding::DeclaredEncoding(data, true);
        if (encoding.empty() && data.starts_with('<')) {
            encoding = "UTF-8";
        }
    }

    if (wide) {
        if (data.size() % 2 != 0) {
            oddByte = data.back();
            data.remove_suffix(1);
        }
        std::string ordered(data);
        if (bigEndian) {
            for (std::size_t i = 0; i + 1 < ordered.size(); i += 2) {
                std::swap(ordered[i], ordered[i + 1]);
            }
        }
        text = UnitsFromLittleEndian(ordered);
        const std::size_t before = text.size();
        std::erase(text, u'\0');
        if (text.size() != before) {
            Record("nulls_removed", {{"count", Number(before - text.size())}});
        }
        if (bigEndian) {
            Record("endian_swap");
        }
        Record("read", {{"encoding", encoding}, {"length", Number(text.size())}});
        return;
    }

    std::string bytes(data);
    const std::size_t before = bytes.size();
    std::erase(bytes, '\0');
    if (bytes.size() != before) {
        Record("nulls_removed", {{"count", Number(before - bytes.size())}});
    }
    std::optional<int> codePage = CodePageNames::CodePageOf(encoding);
    // 8-bit data cannot be in a UTF-16 or UTF-32 page, whatever it declares.
    if (codePage && CodePageNames::IsWide(*codePage)) {
        encoding.clear();
        codePage.reset();
    }
    if (encoding.empty()) {
        const bool utf8 = TextEncoding::HasUtf8Shape(bytes);
        encoding = utf8 ? "UTF-8" : "";
        codePage = utf8 ? std::optional<int>(CodePageNames::kUtf8) : std::nullopt;
        Record("utf8_detection", {{"encoding", utf8 ? encoding : "ANSI"}});
    }
    std::string iconvName = codePage ? CodePageNames::IconvNameOf(*codePage) : std::string();
    if (iconvName.empty() || !IconvConverter(kIconvUtf16, iconvName).Valid()) {
        codePage = CodePage::Wire().Number();
        iconvName = CodePageNames::IconvNameOf(*codePage);
        if (iconvName.empty() || !IconvConverter(kIconvUtf16, iconvName).Valid()) {
            iconvName = "CP" + std::to_string(*codePage);
        }
    }
    loadedCodePage = codePage;
    text = ToUtf16(bytes, iconvName);
    Record("converted_to", {{"encoding", iconvName}, {"length", Number(text.size())}});
    Record("read", {{"encoding", encoding.empty() ? iconvName : encoding}, {"length", Number(text.size())}});
}

std::uint32_t XmlTextDocument::AddElement(std::uint32_t parent, std::uint32_t after, const Element& element) {
    const auto index = static_cast<std::uint32_t>(elements.size());
    elements.push_back(element);
    Element& added = elements.back();
    added.parent = parent;
    const std::uint32_t next = after != 0 ? elements[after].nextSibling : 0;
    if (after == 0) {
        // As the last child.
        added.previousSibling = elements[parent].lastChild;
        if (added.previousSibling != 0) {
            elements[added.previousSibling].nextSibling = index;
        } else {
            elements[parent].firstChild = index;
        }
        elements[parent].lastChild = index;
        return index;
    }
    added.previousSibling = after;
    added.nextSibling = next;
    elements[after].nextSibling = index;
    if (next != 0) {
        elements[next].previousSibling = index;
    } else {
        elements[parent].lastChild = index;
    }
    return index;
}

void XmlTextDocument::CloseElement(std::uint32_t index, std::size_t end, std::size_t endTagLength) {
    Element& element = elements[index];
    element.length = end - element.offset;
    element.endTagLength = endTagLength;
}

std::size_t XmlTextDocument::ParseStartTag(std::size_t at, std::vector<std::uint32_t>& open) {
    std::size_t pos = at + 1;
    while (pos < text.size() && IsNameChar(text[pos])) {
        ++pos;
    }
    char16_t quote = 0;
    for (; pos < text.size(); ++pos) {
        const char16_t c = text[pos];
        if (quote != 0) {
            quote = c == quote ? 0 : quote;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            break;
        }
    }
    if (pos >= text.size()) {
        Record("unterminated_tag_syntax", {{"offset", Number(at)}, {"type", "start_tag"}});
        wellFormed = false;
        return text.size();
    }
    Element element;
    element.offset = at;
    element.startTagLength = pos + 1 - at;
    element.emptyElementTag = text[pos - 1] == '/';
    element.length = element.emptyElementTag ? element.startTagLength : 0;
    const std::uint32_t index = AddElement(open.empty() ? 0 : open.back(), 0, element);
    if (!element.emptyElementTag) {
        open.push_back(index);
    }
    return pos + 1;
}

std::size_t XmlTextDocument::ParseEndTag(std::size_t at, std::vector<std::uint32_t>& open) {
    std::size_t nameEnd = at + 2;
    while (nameEnd < text.size() && IsNameChar(text[nameEnd])) {
        ++nameEnd;
    }
    const std::size_t close = text.find(u'>', nameEnd);
    if (close == std::u16string::npos) {
        Record("unterminated_tag_syntax", {{"offset", Number(at)}, {"type", "end_tag"}});
        wellFormed = false;
        return text.size();
    }
    const std::u16string_view name = View(text, at + 2, nameEnd);
    const auto match = std::find_if(open.rbegin(), open.rend(), [&](std::uint32_t index) {
        return !name.empty() && ElementName(index) == name;
    });
    if (match == open.rend()) {
        Record("lone_end_tag", {{"offset", Number(at)}, {"tagname", Utf16ToUtf8(name)}});
        wellFormed = false;
        return close + 1;
    }
    while (open.back() != *match) {
        const std::uint32_t inner = open.back();
        open.pop_back();
        elements[inner].unended = true;
        CloseElement(inner, at, 0);
        Record("unended_start_tag", {{"offset", Number(elements[inner].offset)},
                                     {"offset2", Number(at)},
                                     {"tagname", Utf16ToUtf8(ElementName(inner))}});
        wellFormed = false;
    }
    open.pop_back();
    CloseElement(*match, close + 1, close + 1 - at);
    return close + 1;
}

std::size_t XmlTextDocument::ParseExclamation(std::size_t at) {
    const auto unterminated = [&](const char* type) {
        Record("unterminated_tag_syntax", {{"offset", Number(at)}, {"type", type}});
        wellFormed = false;
        return text.size();
    };
    const auto syntax = [&](const char* event) {
        Record(event, {{"offset", Number(at)}});
        wellFormed = false;
        return at + 1;
    };
    const std::u16string_view rest = std::u16string_view(text).substr(at);
    if (rest.size() < 3) {
        return unterminated("tag");
    }
    switch (rest[2]) {
    case '-': {
        if (rest.size() < 4) {
            return unterminated("comment");
        }
        if (rest[3] != '-') {
            return syntax("comment_tag_syntax");
        }
        const std::size_t end = text.find(u"-->", at + 4);
        return end == std::u16string::npos ? unterminated("comment") : end + 3;
    }
    case '[':
    case 'D': {
        // "<![" must go on as a CDATA section, "<!D" as a document type declaration.
        const bool cdata = rest[2] == '[';
        const std::u16string_view keyword = cdata ? u"<![CDATA[" : u"<!DOCTYPE";
        const char* type = cdata ? "cdata_section" : "document_type";
        const char* error = cdata ? "cdata_section_syntax" : "doctype_tag_syntax";
        const std::size_t compared = std::min(rest.size(), keyword.size());
        if (rest.substr(0, compared) != keyword.substr(0, compared)) {
            return syntax(error);
        }
        if (rest.size() <= keyword.size()) {
            return unterminated(type);
        }
        if (cdata) {
            const std::size_t end = text.find(u"]]>", at + keyword.size());
            return end == std::u16string::npos ? unterminated(type) : end + 3;
        }
        if (!IsSpace(rest[keyword.size()])) {
            return syntax(error);
        }
        // The internal subset in brackets may hold '>' of its own declarations.
        char16_t quote = 0;
        int depth = 0;
        for (std::size_t pos = keyword.size(); pos < rest.size(); ++pos) {
            const char16_t c = rest[pos];
            if (quote != 0) {
                quote = c == quote ? 0 : quote;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '[') {
                ++depth;
            } else if (c == ']') {
                if (--depth < 0) {
                    return syntax("doctype_tag_syntax");
                }
            } else if (c == '>' && depth == 0) {
                return at + pos + 1;
            }
        }
        return unterminated("document_type");
    }
    default:
        return syntax("exclamation_tag_syntax");
    }
}

void XmlTextDocument::Parse() {
    wellFormed = true;
    std::vector<std::uint32_t> open;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t at = text.find(u'<', pos);
        if (at == std::u16string::npos) {
            break;
        }
        if (at + 1 >= text.size()) {
            Record("unterminated_tag_syntax", {{"offset", Number(at)}, {"type", "tag"}});
            wellFormed = false;
            break;
        }
        const char16_t next = text[at + 1];
        if (IsNameStart(next)) {
            pos = ParseStartTag(at, open);
        } else if (next == '/') {
            pos = ParseEndTag(at, open);
        } else if (next == '!') {
            pos = ParseExclamation(at);
        } else if (next == '?') {
            const std::size_t end = text.find(u"?>", at + 2);
            if (end == std::u16string::npos) {
                Record("unterminated_tag_syntax",
                       {{"offset", Number(at)}, {"type", "processing_instruction"}});
                wellFormed = false;
                break;
            }
            pos = end + 2;
        } else {
            Record("first_tag_syntax", {{"offset", Number(at)}});
            wellFormed = false;
            pos = at + 1;
        }
    }
    while (!open.empty()) {
        const std::uint32_t inner = open.back();
        open.pop_back();
        elements[inner].unended = true;
        CloseElement(inner, text.size(), 0);
        Record("unended_start_tag",
               {{"offset", Number(elements[inner].offset)}, {"tagname", Utf16ToUtf8(ElementName(inner))}});
        wellFormed = false;
    }
    const std::uint32_t root = elements[0].firstChild;
    if (root == 0) {
        Record("no_root_element");
        wellFormed = false;
    } else if (elements[root].nextSibling != 0) {
        Record("root_has_sibling", {{"tagname", Utf16ToUtf8(ElementName(elements[root].nextSibling))}});
        wellFormed = false;
    }
}

std::u16string_view XmlTextDocument::ElementName(std::uint32_t index) const {
    const std::size_t start = elements[index].offset + 1;
    std::size_t end = start;
    while (end < text.size() && IsNameChar(text[end])) {
        ++end;
    }
    return View(text, start, end);
}

std::size_t XmlTextDocument::ContentStart(std::uint32_t index) const {
    return elements[index].offset + elements[index].startTagLength;
}

std::size_t XmlTextDocument::ContentEnd(std::uint32_t index) const {
    const Element& element = elements[index];
    return element.emptyElementTag ? ContentStart(index)
                                   : element.offset + element.length - element.endTagLength;
}

bool XmlTextDocument::FindNextElement(std::string_view name) {
    const std::u16string wanted = Utf8ToUtf16(name);
    for (std::uint32_t index = currentElement != 0 ? elements[currentElement].nextSibling
                                                   : elements[currentParent].firstChild;
         index != 0; index = elements[index].nextSibling) {
        if (ElementName(index) == wanted) {
            currentElement = index;
            return true;
        }
    }
    return false;
}

bool XmlTextDocument::EnterElement() {
    if (currentElement == 0) {
        return false;
    }
    currentParent = currentElement;
    currentElement = 0;
    return true;
}

std::u16string XmlTextDocument::DecodeReferences(std::u16string_view content) {
    std::u16string out;
    out.reserve(content.size());
    for (std::size_t i = 0; i < content.size(); ++i) {
        const char16_t c = content[i];
        if (c != '&') {
            out.push_back(c);
            continue;
        }
        std::size_t end = i + 1;
        while (end < content.size() && end - i - 1 <= kReferenceNameLimit && content[end] != ';' &&
               content[end] < 0x80) {
            ++end;
        }
        std::optional<char32_t> character;
        if (end < content.size() && content[end] == ';' && end - i - 1 <= kReferenceNameLimit) {
            std::string name;
            for (std::size_t k = i + 1; k < end; ++k) {
                name.push_back(static_cast<char>(content[k]));
            }
            character = ReferencedCharacter(name);
        }
        if (!character) {
            out.push_back(c);
            continue;
        }
        if (*character >= 0x10000) {
            const char32_t v = *character - 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(*character));
        }
        i = end;
    }
    return out;
}

std::u16string XmlTextDocument::EncodeText(std::u16string_view content) {
    std::u16string out;
    out.reserve(content.size());
    for (const char16_t c : content) {
        switch (c) {
        case '&':
            out += u"&amp;";
            break;
        case '<':
            out += u"&lt;";
            break;
        case '>':
            out += u"&gt;";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

std::string XmlTextDocument::GetElementText() const {
    if (currentElement == 0 || elements[currentElement].firstChild != 0) {
        return {};
    }
    const std::u16string_view content = View(text, ContentStart(currentElement), ContentEnd(currentElement));
    if (content.find(u'<') == std::u16string_view::npos) {
        return Utf16ToUtf8(DecodeReferences(content));
    }
    std::u16string out;
    std::size_t pos = 0;
    while (pos < content.size()) {
        const std::size_t markup = content.find(u'<', pos);
        const auto skipTo = [&](std::u16string_view terminator, std::size_t from) {
            const std::size_t end = content.find(terminator, from);
            return end == std::u16string_view::npos ? content.size() : end + terminator.size();
        };
        std::size_t textEnd = markup == std::u16string_view::npos ? content.size() : markup;
        std::size_t next = textEnd;
        const std::u16string_view rest = content.substr(textEnd);
        if (rest.starts_with(u"<![CDATA[")) {
            const std::size_t end = content.find(u"]]>", textEnd + 9);
            out += DecodeReferences(content.substr(pos, textEnd - pos));
            out += content.substr(textEnd + 9,
                                  (end == std::u16string_view::npos ? content.size() : end) - textEnd - 9);
            pos = end == std::u16string_view::npos ? content.size() : end + 3;
            continue;
        }
        if (rest.starts_with(u"<!--")) {
            next = skipTo(u"-->", textEnd + 4);
        } else if (rest.starts_with(u"<?")) {
            next = skipTo(u"?>", textEnd + 2);
        } else if (!rest.empty()) {
            // A '<' that opens nothing known stays part of the text.
            textEnd = std::min(content.find(u'<', textEnd + 1), content.size());
            next = textEnd;
        }
        out += DecodeReferences(content.substr(pos, textEnd - pos));
        pos = next;
    }
    return Utf16ToUtf8(out);
}

void XmlTextDocument::Edit(std::size_t at, std::size_t removed, std::u16string_view inserted,
                           std::uint32_t container) {
    text.replace(at, removed, inserted);
    const auto delta = static_cast<std::ptrdiff_t>(inserted.size()) - static_cast<std::ptrdiff_t>(removed);
    for (std::uint32_t index = container; index != 0; index = elements[index].parent) {
        elements[index].length =
            static_cast<std::size_t>(static_cast<std::ptrdiff_t>(elements[index].length) + delta);
    }
    for (std::size_t index = 1; index < elements.size(); ++index) {
        if (elements[index].offset >= at + removed && index != container) {
            elements[index].offset =
                static_cast<std::size_t>(static_cast<std::ptrdiff_t>(elements[index].offset) + delta);
        }
    }
}

std::u16string XmlTextDocument::OpenedStartTag(std::uint32_t index) const {
    const Element& element = elements[index];
    // "<name .../>" without its slash (every one of them: "<name//>" is an empty-element tag too).
    std::u16string tag(View(text, element.offset, element.offset + element.startTagLength - 1));
    while (tag.size() > 1 && tag.back() == u'/') {
        tag.pop_back();
    }
    tag.push_back(u'>');
    return tag;
}

bool XmlTextDocument::SetElementText(std::string_view newText) {
    if (currentElement == 0 || elements[currentElement].firstChild != 0) {
        return false;
    }
    const std::u16string encoded = EncodeText(Utf8ToUtf16(newText));
    Element& element = elements[currentElement];
    if (!element.emptyElementTag) {
        const std::size_t start = ContentStart(currentElement);
        Edit(start, ContentEnd(currentElement) - start, encoded, currentElement);
        return true;
    }
    const std::u16string name(ElementName(currentElement));
    std::u16string replacement = OpenedStartTag(currentElement);
    const std::size_t startTagLength = replacement.size();
    replacement += encoded;
    replacement += u"</" + name + u">";
    Edit(element.offset, element.length, replacement, currentElement);
    Element& opened = elements[currentElement];
    opened.emptyElementTag = false;
    opened.startTagLength = startTagLength;
    opened.endTagLength = name.size() + 3;
    return true;
}

bool XmlTextDocument::SetElementText(int number) {
    return SetElementText(std::to_string(number));
}

bool XmlTextDocument::AppendElement(std::string_view name, std::string_view newText) {
    const std::u16string tagName = Utf8ToUtf16(name);
    if (tagName.empty() || !IsNameStart(tagName[0]) ||
        !std::all_of(tagName.begin(), tagName.end(), [](char16_t c) { return IsNameChar(c); })) {
        return false;
    }
    const std::u16string encoded = EncodeText(Utf8ToUtf16(newText));
    Element added;
    std::u16string piece;
    if (encoded.empty()) {
        piece = u"<" + tagName + u"/>";
        added.emptyElementTag = true;
        added.startTagLength = piece.size();
    } else {
        piece = u"<" + tagName + u">" + encoded + u"</" + tagName + u">";
        added.startTagLength = tagName.size() + 2;
        added.endTagLength = tagName.size() + 3;
    }
    added.length = piece.size();
    piece += kCrLf;

    const std::uint32_t parent = currentParent;
    if (currentElement != 0) {
        const std::size_t end = elements[currentElement].offset + elements[currentElement].length;
        std::size_t after = end;
        while (after < text.size() && IsSpace(text[after])) {
            ++after;
        }
        added.offset = after < text.size() && text[after] == '<' ? after : end;
        Edit(added.offset, 0, piece, parent);
    } else if (parent != 0 && elements[parent].emptyElementTag) {
        const std::u16string parentName(ElementName(parent));
        std::u16string replacement = OpenedStartTag(parent);
        const std::size_t startTagLength = replacement.size();
        replacement += kCrLf;
        added.offset = elements[parent].offset + replacement.size();
        replacement += piece;
        replacement += u"</" + parentName + u">";
        Edit(elements[parent].offset, elements[parent].length, replacement, parent);
        Element& opened = elements[parent];
        opened.emptyElementTag = false;
        opened.startTagLength = startTagLength;
        opened.endTagLength = parentName.size() + 3;
    } else {
        added.offset = parent != 0 ? ContentEnd(parent) : text.size();
        Edit(added.offset, 0, piece, parent);
    }
    currentElement = AddElement(parent, currentElement, added);
    return true;
}

std::string XmlTextDocument::EncodeForSaving(int& codePage) {
    std::string bytes;
    switch (mark) {
    case ByteOrderMark::Utf16LittleEndian:
    case ByteOrderMark::Utf16BigEndian: {
        const bool bigEndian = mark == ByteOrderMark::Utf16BigEndian;
        bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        AppendUnits(bytes, text, bigEndian);
        if (oddByte) {
            bytes.push_back(*oddByte);
        }
        if (bigEndian) {
            Record("endian_swap");
        }
        codePage = bigEndian ? CodePageNames::kUtf16BigEndian : CodePageNames::kUtf16LittleEndian;
        return bytes;
    }
    case ByteOrderMark::Utf8:
        bytes = "\xEF\xBB\xBF";
        codePage = CodePageNames::kUtf8;
        break;
    case ByteOrderMark::None:
        // Written as it was read, so that a file read in the wire code page stays in it. A document
        // that was never loaded goes by its own declaration.
        if (loadedCodePage) {
            codePage = *loadedCodePage;
        } else {
            const std::optional<int> declared =
                CodePageNames::CodePageOf(TextEncoding::DeclaredEncoding(AsciiView(text), true));
            codePage = declared && !CodePageNames::IsWide(*declared) ? *declared : CodePageNames::kUtf8;
        }
        break;
    }
    std::string iconvName = CodePageNames::IconvNameOf(codePage);
    if (iconvName.empty() || !IconvConverter(iconvName, kIconvUtf16).Valid()) {
        codePage = CodePageNames::kUtf8;
        iconvName = CodePageNames::IconvNameOf(codePage);
    }
    std::size_t lost = 0;
    bytes += FromUtf16(text, iconvName, lost);
    Record("converted_from", {{"encoding", iconvName}, {"length", Number(text.size())}});
    if (lost > 0) {
        Record("conversion_loss", {{"count", Number(lost)}});
    }
    return bytes;
}

bool XmlTextDocument::SaveFile(const std::filesystem::path& path) {
    resultLog.clear();
    int codePage = 0;
    const std::string bytes = EncodeForSaving(codePage);
    errno = 0;
    if (!WriteFileAtomically(path, bytes)) {
        RecordFileError(errno != 0 ? errno : EIO);
        return false;
    }
    Record("write", {{"length", Number(bytes.size())}});
    return true;
}
