#include "xml/EncodedXmlFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sstream>
#include <unistd.h>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/IconvConverter.h"
#include "platform/Unicode.h"
#include "xml/StrictXml.h"

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
// The XML declaration, when there is one, ends within this many bytes.
constexpr std::size_t kDeclarationLimit = 1024;

bool EqualsIgnoringCase(std::string_view left, std::string_view right) {
    return AsciiUpper(left) == AsciiUpper(right);
}

bool IsUtf8Name(std::string_view name) {
    return name.empty() || EqualsIgnoringCase(name, "UTF-8") || EqualsIgnoringCase(name, "UTF8");
}

// The encoding the XML declaration at the start of `text` names; empty when it names none.
std::string DeclaredEncoding(std::string_view text) {
    constexpr std::string_view kStart = "<?xml";
    if (!text.starts_with(kStart) || text.size() == kStart.size() ||
        std::string_view(" \t\r\n").find(text[kStart.size()]) == std::string_view::npos) {
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

// Converts `text` through iconv; nothing when the source has a byte sequence that stands for no
// character, whose offset then goes to `failedAt`.
std::optional<std::string> ConvertStrictly(IconvConverter& converter, std::string_view text,
                                           std::size_t& failedAt) {
    bool failed = false;
    std::string out = converter.Run(text, [&](std::string_view rest, std::string&) {
        if (!failed) {
            failed = true;
            failedAt = text.size() - rest.size();
        }
        return rest.size();
    });
    return failed ? std::nullopt : std::optional<std::string>(std::move(out));
}

// UTF-8 to the file's encoding; a character it cannot hold becomes a numeric character reference.
std::string ConvertWithReferences(IconvConverter& converter, std::string_view utf8) {
    return converter.Run(utf8, [](std::string_view rest, std::string& out) {
        const std::string first = Utf8Prefix(rest, 1);
        const std::u32string character = Utf8ToUtf32(first);
        out += "&#" + std::to_string(character.empty() ? 0xFFFD : static_cast<std::uint32_t>(character[0])) +
               ";";
        return first.size();
    });
}

// Whether `name` writes ASCII as ASCII, so that the declaration can be found and written back.
bool KeepsAsciiAsIs(const std::string& name) {
    constexpr std::string_view kMarkup = "<?xml version=\"1.0\" encoding='x'?><a b=\"c\">&#1; d</a>\n\t";
    IconvConverter encoder(name, "UTF-8");
    if (!encoder.Valid()) {
        return false;
    }
    std::size_t failedAt = 0;
    const std::optional<std::string> encoded = ConvertStrictly(encoder, kMarkup, failedAt);
    return encoded && *encoded == kMarkup;
}

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
    document.reset();
    problem.clear();
    iconvName.clear();
    byteOrderMark = false;
    encoding = pugi::encoding_utf8;

    // UTF-16 and UTF-32 are known by their byte-order mark or by how "<?" is written; anything else
    // is 8-bit text in the encoding the declaration names.
    std::string wideName;
    std::size_t markSize = 0;
    const auto starts = [&](std::string_view prefix) { return bytes.starts_with(prefix); };
    if (starts(std::string_view("\xFF\xFE\0\0", 4)) || starts(std::string_view("\0\0\xFE\xFF", 4))) {
        encoding = starts("\xFF") ? pugi::encoding_utf32_le : pugi::encoding_utf32_be;
        wideName = starts("\xFF") ? "UTF-32LE" : "UTF-32BE";
        markSize = 4;
    } else if (starts("\xFF\xFE") || starts("\xFE\xFF")) {
        encoding = starts("\xFF") ? pugi::encoding_utf16_le : pugi::encoding_utf16_be;
        wideName = starts("\xFF") ? "UTF-16LE" : "UTF-16BE";
        markSize = 2;
    } else if (starts(std::string_view("<\0?\0", 4)) || starts(std::string_view("\0<\0?", 4))) {
        encoding = starts("<") ? pugi::encoding_utf16_le : pugi::encoding_utf16_be;
        wideName = starts("<") ? "UTF-16LE" : "UTF-16BE";
    } else if (starts(kUtf8Mark)) {
        markSize = kUtf8Mark.size();
    }
    byteOrderMark = markSize > 0;
    const std::string_view body = bytes.substr(markSize);

    // A byte-order mark says what the text is, whatever the declaration says.
    const std::string declared = byteOrderMark || !wideName.empty() ? std::string() : DeclaredEncoding(body);
    const std::string sourceName = !wideName.empty() ? wideName : declared;
    if (IsUtf8Name(sourceName)) {
        if (const std::optional<std::size_t> bad = InvalidUtf8At(body)) {
            return Fail("not valid UTF-8 at byte " + std::to_string(*bad + markSize));
        }
        text.assign(body);
    } else {
        IconvConverter decoder("UTF-8", sourceName);
        if (!decoder.Valid()) {
            return Fail("the unknown encoding " + sourceName);
        }
        if (wideName.empty() && !KeepsAsciiAsIs(sourceName)) {
            return Fail("the encoding " + sourceName + ", which does not write markup as ASCII");
        }
        std::size_t failedAt = 0;
        std::optional<std::string> converted = ConvertStrictly(decoder, body, failedAt);
        if (!converted) {
            return Fail("not valid " + sourceName + " at byte " + std::to_string(failedAt + markSize));
        }
        text = std::move(*converted);
        iconvName = wideName.empty() ? declared : std::string();
    }
    std::string why;
    // The document lives in `text` from here on.
    if (!StrictXml::Parse(document, text.data(), text.size(), parseOptions, 0, &why)) {
        return Fail("not well-formed: " + why);
    }
    // Blanks beside the root are no part of the document (the strict parse keeps them).
    for (pugi::xml_node node = document.first_child(); node;) {
        const pugi::xml_node next = node.next_sibling();
        if (node.type() == pugi::node_pcdata) {
            document.remove_child(node);
        } else if (node.type() == pugi::node_declaration) {
            if (node != document.first_child() || !text.starts_with("<?xml")) {
                return Fail("not well-formed: an XML declaration that is not at the start");
            }
            // Its values are names and numbers; markup in them is a declaration that never ended.
            for (const pugi::xml_attribute attribute : node.attributes()) {
                if (std::string_view(attribute.value()).find_first_of("<&") != std::string_view::npos) {
                    return Fail("not well-formed: a broken XML declaration");
                }
            }
        }
        node = next;
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
    IconvConverter encoder(iconvName, "UTF-8");
    if (!encoder.Valid()) {
        return std::nullopt;
    }
    return ConvertWithReferences(encoder, utf8);
}

bool EncodedXmlFile::SaveAtomically(const std::filesystem::path& path) const {
    const std::optional<std::string> bytes = Serialize();
    return bytes && WriteFileAtomically(path, *bytes);
}
