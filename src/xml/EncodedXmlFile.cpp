#include "xml/EncodedXmlFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <optional>
#include <set>
#include <sstream>
#include <unistd.h>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/Unicode.h"

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
// The XML declaration, when there is one, ends within this many bytes.
constexpr std::size_t kDeclarationLimit = 1024;
// The longest reference worth reading: "&#x10FFFF;" and the predefined names.
constexpr std::size_t kReferenceLimit = 16;
constexpr std::array<std::string_view, 5> kPredefinedEntities = {"amp", "lt", "gt", "quot", "apos"};

class Iconv {
public:
    Iconv(const std::string& to, const std::string& from) : handle(::iconv_open(to.c_str(), from.c_str())) {}
    ~Iconv() {
        if (IsOpen()) {
            ::iconv_close(handle);
        }
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool IsOpen() const { return handle != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() const { return handle; }

private:
    iconv_t handle;
};

bool EqualsIgnoringCase(std::string_view left, std::string_view right) {
    return AsciiUpper(left) == AsciiUpper(right);
}

bool IsUtf8Name(std::string_view name) {
    return name.empty() || EqualsIgnoringCase(name, "UTF-8") || EqualsIgnoringCase(name, "UTF8");
}

// The encoding the XML declaration at the start of `text` names; empty when it names none.
std::string DeclaredEncoding(std::string_view text) {
    if (!text.starts_with("<?xml")) {
        return {};
    }
    const std::string_view declaration = text.substr(0, std::min(text.find("?>"), kDeclarationLimit));
    const std::size_t key = declaration.find("encoding");
    if (key == std::string_view::npos) {
        return {};
    }
    std::size_t at = declaration.find_first_not_of(" \t\r\n", key + std::strlen("encoding"));
    if (at == std::string_view::npos || declaration[at] != '=') {
        return {};
    }
    at = declaration.find_first_not_of(" \t\r\n", at + 1);
    if (at == std::string_view::npos || (declaration[at] != '"' && declaration[at] != '\'')) {
        return {};
    }
    const std::size_t end = declaration.find(declaration[at], at + 1);
    return end == std::string_view::npos ? std::string()
                                         : std::string(declaration.substr(at + 1, end - at - 1));
}

// Offset of the first byte that does not belong to a well-formed UTF-8 sequence, if any.
std::optional<std::size_t> InvalidUtf8At(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size()) {
        const auto lead = static_cast<unsigned char>(text[at]);
        std::size_t length = 0;
        char32_t value = 0;
        if (lead < 0x80) {
            ++at;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            value = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            value = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            value = lead & 0x07;
        } else {
            return at;
        }
        if (at + length > text.size()) {
            return at;
        }
        for (std::size_t i = 1; i < length; ++i) {
            const auto next = static_cast<unsigned char>(text[at + i]);
            if ((next & 0xC0) != 0x80) {
                return at;
            }
            value = (value << 6) | (next & 0x3F);
        }
        const bool overlong = (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
        if (overlong || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            return at;
        }
        at += length;
    }
    return std::nullopt;
}

// Converts `text` through iconv; on a byte sequence the source cannot stand for, `failedAt` gets
// its offset. With `referenceUnknown`, a character the target cannot hold becomes "&#N;".
std::optional<std::string> Convert(const Iconv& converter, std::string_view text, bool referenceUnknown,
                                   std::size_t& failedAt) {
    std::string out;
    std::vector<char> buffer(4096);
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    while (inLeft > 0) {
        char* outAt = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t converted = ::iconv(converter.Get(), &in, &inLeft, &outAt, &outLeft);
        out.append(buffer.data(), buffer.size() - outLeft);
        if (converted != static_cast<std::size_t>(-1) || errno == E2BIG) {
            continue;
        }
        if (errno == EILSEQ && referenceUnknown) {
            // The input is our own UTF-8: one character goes out as a reference the target can hold.
            const std::string_view rest(in, inLeft);
            const std::u32string one = Utf8ToUtf32(Utf8Prefix(rest, 1));
            const std::size_t length = Utf8Prefix(rest, 1).size();
            const std::string reference = "&#" + std::to_string(one.empty() ? 0xFFFD : one[0]) + ";";
            out += reference;
            in += length;
            inLeft -= length;
            continue;
        }
        failedAt = text.size() - inLeft;
        return std::nullopt;
    }
    // Ends any shift state the target encoding keeps.
    char* outAt = buffer.data();
    std::size_t outLeft = buffer.size();
    ::iconv(converter.Get(), nullptr, nullptr, &outAt, &outLeft);
    out.append(buffer.data(), buffer.size() - outLeft);
    return out;
}

bool IsXmlChar(std::uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

// Why the raw (unescaped) text of a text node or attribute is not well-formed, if it is not.
std::optional<std::string> TextProblem(std::string_view text, bool attribute) {
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            return "a control character";
        }
        if (attribute && c == '<') {
            return "\"<\" in an attribute value";
        }
        if (c != '&') {
            continue;
        }
        const std::size_t end = text.find(';', at);
        if (end == std::string_view::npos || end - at > kReferenceLimit) {
            return "a \"&\" that starts no reference";
        }
        const std::string_view name = text.substr(at + 1, end - at - 1);
        if (name.starts_with('#')) {
            const bool hex = name.size() > 1 && name[1] == 'x';
            const std::string_view digits = name.substr(hex ? 2 : 1);
            std::uint32_t value = 0;
            const auto [stop, error] =
                std::from_chars(digits.data(), digits.data() + digits.size(), value, hex ? 16 : 10);
            if (digits.empty() || error != std::errc() || stop != digits.data() + digits.size() ||
                !IsXmlChar(value)) {
                return "the character reference &" + std::string(name) + ";";
            }
        } else if (std::find(kPredefinedEntities.begin(), kPredefinedEntities.end(), name) ==
                   kPredefinedEntities.end()) {
            return "the undefined entity &" + std::string(name) + ";";
        }
        at = end;
    }
    if (!attribute && text.find("]]>") != std::string_view::npos) {
        return "\"]]>\" in text";
    }
    return std::nullopt;
}

// Looks through a document parsed as a fragment, without its references replaced, for what pugixml
// lets pass but a conforming parser refuses.
class WellFormednessCheck : public pugi::xml_tree_walker {
public:
    bool for_each(pugi::xml_node& node) override {
        if (depth() == 0) {
            ++topLevel;
            if (node.type() == pugi::node_element) {
                ++rootElements;
            } else if ((node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) &&
                       std::string_view(node.value()).find_first_not_of(" \t\r\n") !=
                           std::string_view::npos) {
                problem = "text outside the root element";
            } else if (node.type() == pugi::node_declaration && topLevel != 1) {
                problem = "an XML declaration that is not at the start";
            }
        }
        if (node.type() == pugi::node_pcdata) {
            Note(TextProblem(node.value(), false));
        }
        std::set<std::string_view> names;
        for (const pugi::xml_attribute& attribute : node.attributes()) {
            if (!names.insert(attribute.name()).second) {
                problem = "the attribute " + std::string(attribute.name()) + " given twice";
            }
            if (node.type() == pugi::node_element) {
                Note(TextProblem(attribute.value(), true));
            }
        }
        return problem.empty();
    }

    std::string Verdict() const {
        if (!problem.empty()) {
            return problem;
        }
        if (rootElements == 0) {
            return "no root element";
        }
        return rootElements > 1 ? "more than one root element" : std::string();
    }

private:
    void Note(const std::optional<std::string>& found) {
        if (found && problem.empty()) {
            problem = *found;
        }
    }

    int topLevel = 0;
    int rootElements = 0;
    std::string problem;
};

} // namespace

bool EncodedXmlFile::Fail(std::string why) {
    problem = std::move(why);
    document.reset();
    return false;
}

bool EncodedXmlFile::Load(const std::filesystem::path& path, unsigned parseOptions) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return Fail(std::strerror(errno));
    }
    std::string bytes;
    char chunk[65536];
    for (;;) {
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            const int error = errno;
            ::close(fd);
            return Fail(std::strerror(error));
        }
        if (count == 0) {
            break;
        }
        bytes.append(chunk, static_cast<std::size_t>(count));
        if (bytes.size() > kSizeLimit) {
            ::close(fd);
            return Fail("larger than " + std::to_string(kSizeLimit) + " bytes");
        }
    }
    ::close(fd);
    return Parse(bytes, parseOptions);
}

bool EncodedXmlFile::Parse(std::string_view bytes, unsigned parseOptions) {
    problem.clear();
    iconvName.clear();
    byteOrderMark = false;
    encoding = pugi::encoding_utf8;

    std::string text;
    const auto starts = [&](std::string_view prefix) { return bytes.starts_with(prefix); };
    if (starts(std::string_view("\xFF\xFE\0\0", 4)) || starts(std::string_view("\0\0\xFE\xFF", 4))) {
        encoding = starts("\xFF") ? pugi::encoding_utf32_le : pugi::encoding_utf32_be;
        byteOrderMark = true;
    } else if (starts("\xFF\xFE") || starts("\xFE\xFF")) {
        encoding = starts("\xFF") ? pugi::encoding_utf16_le : pugi::encoding_utf16_be;
        byteOrderMark = true;
    } else if (starts(std::string_view("<\0?\0", 4)) || starts(std::string_view("\0<\0?", 4))) {
        encoding = starts("<") ? pugi::encoding_utf16_le : pugi::encoding_utf16_be;
    } else {
        byteOrderMark = starts(kUtf8Mark);
        std::string_view body = bytes.substr(byteOrderMark ? kUtf8Mark.size() : 0);
        // A byte-order mark says UTF-8 whatever the declaration says.
        const std::string declared = byteOrderMark ? std::string() : DeclaredEncoding(body);
        if (IsUtf8Name(declared)) {
            if (const std::optional<std::size_t> bad = InvalidUtf8At(body)) {
                return Fail("not valid UTF-8 at byte " + std::to_string(*bad));
            }
            text.assign(body);
        } else {
            const Iconv decoder("UTF-8", declared);
            if (!decoder.IsOpen()) {
                return Fail("the unknown encoding " + declared);
            }
            std::size_t failedAt = 0;
            std::optional<std::string> converted = Convert(decoder, body, false, failedAt);
            if (!converted) {
                return Fail("not valid " + declared + " at byte " + std::to_string(failedAt));
            }
            text = std::move(*converted);
            iconvName = declared;
        }
    }
    // UTF-16 and UTF-32 are pugixml's own to read.
    const bool wide = encoding != pugi::encoding_utf8;
    const void* data = wide ? static_cast<const void*>(bytes.data()) : static_cast<const void*>(text.data());
    const std::size_t size = wide ? bytes.size() : text.size();

    {
        pugi::xml_document raw;
        const unsigned rawOptions = (parseOptions | pugi::parse_fragment) & ~pugi::parse_escapes;
        const pugi::xml_parse_result parsed = raw.load_buffer(data, size, rawOptions, encoding);
        if (!parsed) {
            return Fail(std::string("not well-formed: ") + parsed.description() + " at byte " +
                        std::to_string(parsed.offset));
        }
        WellFormednessCheck check;
        raw.traverse(check);
        if (const std::string verdict = check.Verdict(); !verdict.empty()) {
            return Fail("not well-formed: " + verdict);
        }
    }
    const pugi::xml_parse_result parsed = document.load_buffer(data, size, parseOptions, encoding);
    if (!parsed) {
        return Fail(std::string("not well-formed: ") + parsed.description() + " at byte " +
                    std::to_string(parsed.offset));
    }
    return true;
}

std::optional<std::string> EncodedXmlFile::Serialize() const {
    std::ostringstream out;
    // The declaration, if the file had one, is a node of the document and is written back as it was.
    const unsigned flags = pugi::format_raw | pugi::format_no_declaration;
    if (encoding != pugi::encoding_utf8) {
        document.save(out, "", flags | (byteOrderMark ? pugi::format_write_bom : 0), encoding);
        return out.str();
    }
    document.save(out, "", flags, pugi::encoding_utf8);
    const std::string utf8 = out.str();
    if (iconvName.empty()) {
        return byteOrderMark ? std::string(kUtf8Mark) + utf8 : utf8;
    }
    const Iconv encoder(iconvName, "UTF-8");
    if (!encoder.IsOpen()) {
        return std::nullopt;
    }
    std::size_t failedAt = 0;
    return Convert(encoder, utf8, true, failedAt);
}

bool EncodedXmlFile::SaveAtomically(const std::filesystem::path& path) const {
    const std::optional<std::string> bytes = Serialize();
    return bytes && WriteFileAtomically(path, *bytes);
}
