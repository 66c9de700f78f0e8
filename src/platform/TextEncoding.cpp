#include "platform/TextEncoding.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/CodePage.h"
#include "platform/IconvConverter.h"
#include "platform/Unicode.h"

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LittleEndianMark = "\xFF\xFE";
constexpr std::string_view kUtf16BigEndianMark = "\xFE\xFF";
constexpr std::string_view kUtf32LittleEndianMark{"\xFF\xFE\0\0", 4};
constexpr std::string_view kUtf32BigEndianMark{"\0\0\xFE\xFF", 4};
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

char AsciiLowerChar(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, std::size_t at, std::string_view lowerPrefix) {
    if (at > text.size() || text.size() - at < lowerPrefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < lowerPrefix.size(); ++i) {
        if (AsciiLowerChar(text[at + i]) != lowerPrefix[i]) {
            return false;
        }
    }
    return true;
}

std::size_t FindNoCase(std::string_view text, std::string_view lowerNeedle, std::size_t from,
                       std::size_t until = std::string_view::npos) {
    until = std::min(until, text.size());
    for (std::size_t at = from; at + lowerNeedle.size() <= until; ++at) {
        if (StartsWithNoCase(text, at, lowerNeedle)) {
            return at;
        }
    }
    return std::string_view::npos;
}

std::size_t SkipSpaces(std::string_view text, std::size_t at) {
    while (at < text.size() && IsSpace(text[at])) {
        ++at;
    }
    return at;
}

// The attributes of one tag (from after its name up to its '>'), names lower-cased.
std::vector<std::pair<std::string, std::string>> TagAttributes(std::string_view tag) {
    std::vector<std::pair<std::string, std::string>> attributes;
    std::size_t at = 0;
    while (at < tag.size()) {
        while (at < tag.size() && (IsSpace(tag[at]) || tag[at] == '/')) {
            ++at;
        }
        const std::size_t nameStart = at;
        while (at < tag.size() && !IsSpace(tag[at]) && tag[at] != '=' && tag[at] != '/') {
            ++at;
        }
        std::string name = AsciiLower(tag.substr(nameStart, at - nameStart));
        at = SkipSpaces(tag, at);
        std::string value;
        if (at < tag.size() && tag[at] == '=') {
            at = SkipSpaces(tag, at + 1);
            if (at < tag.size() && (tag[at] == '"' || tag[at] == '\'')) {
                const char quote = tag[at++];
                const std::size_t end = std::min(tag.find(quote, at), tag.size());
                value = tag.substr(at, end - at);
                at = end + 1;
            } else {
                const std::size_t valueStart = at;
                while (at < tag.size() && !IsSpace(tag[at])) {
                    ++at;
                }
                value = tag.substr(valueStart, at - valueStart);
            }
        }
        if (!name.empty()) {
            attributes.emplace_back(std::move(name), std::move(value));
        }
    }
    return attributes;
}

// The charset of the Content-Type meta element in the head of an HTML page.
std::string MetaCharset(std::string_view start) {
    const std::size_t head = FindNoCase(start, "<head", 0);
    if (head == std::string_view::npos) {
        return {};
    }
    const std::size_t headEnd = FindNoCase(start, "</head", head);
    for (std::size_t meta = FindNoCase(start, "<meta", head, headEnd); meta != std::string_view::npos;
         meta = FindNoCase(start, "<meta", meta + 5, headEnd)) {
        const std::size_t tagEnd = std::min(start.find('>', meta), start.size());
        std::string httpEquiv;
        std::string content;
        for (const auto& [name, value] : TagAttributes(start.substr(meta + 5, tagEnd - meta - 5))) {
            if (name == "http-equiv") {
                httpEquiv = AsciiLower(value);
            } else if (name == "content") {
                content = value;
            }
        }
        const std::size_t charset = FindNoCase(content, "charset", 0);
        if (httpEquiv != "content-type" || charset == std::string::npos) {
            continue;
        }
        std::size_t at = SkipSpaces(content, charset + 7);
        if (at >= content.size() || content[at] != '=') {
            continue;
        }
        at = SkipSpaces(content, at + 1);
        const std::size_t nameEnd = std::min(content.find_first_of(" \t\r\n;\"'", at), content.size());
        return content.substr(at, nameEnd - at);
    }
    return {};
}

} // namespace

TextEncoding::Mark TextEncoding::MarkOf(std::string_view bytes, bool utf32) {
    if (utf32 && bytes.starts_with(kUtf32LittleEndianMark)) {
        return Mark::Utf32LittleEndian;
    }
    if (utf32 && bytes.starts_with(kUtf32BigEndianMark)) {
        return Mark::Utf32BigEndian;
    }
    if (bytes.starts_with(kUtf8Mark)) {
        return Mark::Utf8;
    }
    if (bytes.starts_with(kUtf16LittleEndianMark)) {
        return Mark::Utf16LittleEndian;
    }
    if (bytes.starts_with(kUtf16BigEndianMark)) {
        return Mark::Utf16BigEndian;
    }
    return Mark::None;
}

std::string_view TextEncoding::MarkBytes(Mark mark) {
    switch (mark) {
    case Mark::Utf8:
        return kUtf8Mark;
    case Mark::Utf16LittleEndian:
        return kUtf16LittleEndianMark;
    case Mark::Utf16BigEndian:
        return kUtf16BigEndianMark;
    case Mark::Utf32LittleEndian:
        return kUtf32LittleEndianMark;
    case Mark::Utf32BigEndian:
        return kUtf32BigEndianMark;
    case Mark::None:
        break;
    }
    return {};
}

std::string TextEncoding::IconvName(Mark mark) {
    switch (mark) {
    case Mark::Utf8:
        return "UTF-8";
    case Mark::Utf16LittleEndian:
        return "UTF-16LE";
    case Mark::Utf16BigEndian:
        return "UTF-16BE";
    case Mark::Utf32LittleEndian:
        return "UTF-32LE";
    case Mark::Utf32BigEndian:
        return "UTF-32BE";
    case Mark::None:
        break;
    }
    return {};
}

std::optional<std::size_t> TextEncoding::InvalidUtf8At(std::string_view text) {
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

bool TextEncoding::HasUtf8Shape(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            continue;
        }
        std::size_t further = 0;
        if ((lead & 0x20) == 0) {
            further = 1;
        } else if ((lead & 0x10) == 0) {
            further = 2;
        } else if ((lead & 0x08) == 0) {
            further = 3;
        } else {
            return false;
        }
        if (text.size() - i - 1 < further) {
            return false;
        }
        for (std::size_t k = 1; k <= further; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0x80) == 0) {
                return false;
            }
        }
        i += further;
    }
    return true;
}

std::string TextEncoding::DeclaredEncoding(std::string_view text, bool htmlMeta) {
    const std::string_view start = text.substr(0, kDeclarationWindow);
    if (StartsWithNoCase(start, 0, "<?xml") && start.size() > 5 && IsSpace(start[5])) {
        const std::size_t end = std::min(start.find("?>"), start.size());
        for (const auto& [name, value] : TagAttributes(start.substr(5, end - 5))) {
            if (name == "encoding") {
                return value;
            }
        }
        return {};
    }
    return htmlMeta ? MetaCharset(start) : std::string();
}

std::optional<std::string> TextEncoding::ConvertStrictly(IconvConverter& converter, std::string_view text,
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

std::string TextEncoding::PlainTextToUtf8(std::string_view bytes, const CodePage& fallback) {
    const Mark mark = MarkOf(bytes, true);
    if (mark == Mark::None) {
        return InvalidUtf8At(bytes) ? fallback.Decode(bytes) : std::string(bytes);
    }
    bytes.remove_prefix(MarkBytes(mark).size());
    if (mark == Mark::Utf8) {
        // Each malformed byte becomes U+FFFD.
        return Utf32ToUtf8(Utf8ToUtf32(bytes));
    }
    const std::size_t unit = mark == Mark::Utf16LittleEndian || mark == Mark::Utf16BigEndian ? 2 : 4;
    IconvConverter converter("UTF-8", IconvName(mark));
    return converter.Run(bytes, [unit](std::string_view rest, std::string& out) {
        out += kReplacementCharacter;
        return std::min(unit, rest.size());
    });
}
