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
#include "platform/TextEncoding.h"
#include "platform/Unicode.h"
#include "xml/StrictXml.h"

namespace {

bool EqualsIgnoringCase(std::string_view left, std::string_view right) {
    return AsciiUpper(left) == AsciiUpper(right);
}

bool IsUtf8Name(std::string_view name) {
    return name.empty() || EqualsIgnoringCase(name, "UTF-8") || EqualsIgnoringCase(name, "UTF8");
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
    const std::optional<std::string> encoded = TextEncoding::ConvertStrictly(encoder, kMarkup, failedAt);
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
    const TextEncoding::Mark mark = TextEncoding::MarkOf(bytes, true);
    std::string wideName = mark == TextEncoding::Mark::Utf8 ? std::string() : TextEncoding::IconvName(mark);
    switch (mark) {
    case TextEncoding::Mark::Utf16LittleEndian:
        encoding = pugi::encoding_utf16_le;
        break;
    case TextEncoding::Mark::Utf16BigEndian:
        encoding = pugi::encoding_utf16_be;
        break;
    case TextEncoding::Mark::Utf32LittleEndian:
        encoding = pugi::encoding_utf32_le;
        break;
    case TextEncoding::Mark::Utf32BigEndian:
        encoding = pugi::encoding_utf32_be;
        break;
    case TextEncoding::Mark::Utf8:
    case TextEncoding::Mark::None:
        break;
    }
    const auto starts = [&](std::string_view prefix) { return bytes.starts_with(prefix); };
    if (mark == TextEncoding::Mark::None &&
        (starts(std::string_view("<\0?\0", 4)) || starts(std::string_view("\0<\0?", 4)))) {
        encoding = starts("<") ? pugi::encoding_utf16_le : pugi::encoding_utf16_be;
        wideName = starts("<") ? "UTF-16LE" : "UTF-16BE";
    }
    const std::size_t markSize = TextEncoding::MarkBytes(mark).size();
    byteOrderMark = markSize > 0;
    const std::string_view body = bytes.substr(markSize);

    // A byte-order mark says what the text is, whatever the declaration says.
    const std::string declared =
        byteOrderMark || !wideName.empty() ? std::string() : TextEncoding::DeclaredEncoding(body, false);
    const std::string sourceName = !wideName.empty() ? wideName : declared;
    if (IsUtf8Name(sourceName)) {
        if (const std::optional<std::size_t> bad = TextEncoding::InvalidUtf8At(body)) {
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
        std::optional<std::string> converted = TextEncoding::ConvertStrictly(decoder, body, failedAt);
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
        return byteOrderMark ? std::string(TextEncoding::MarkBytes(TextEncoding::Mark::Utf8)) + utf8 : utf8;
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
