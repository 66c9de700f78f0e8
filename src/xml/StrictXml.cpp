#include "xml/StrictXml.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/Unicode.h"

namespace {

constexpr char32_t kMaxCharacter = 0x10FFFF;

bool HasControlCharacter(const char* text, std::size_t size) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    return std::any_of(bytes, bytes + size,
                       [](unsigned char c) { return c < 0x20 && c != '\t' && c != '\n' && c != '\r'; });
}

std::size_t MarkupCount(const char* text, std::size_t size) {
    return static_cast<std::size_t>(std::count(text, text + size, '<') + std::count(text, text + size, '='));
}

// The character a reference body (between "&" and ";") stands for, 0 when it stands for none.
char32_t ReferencedCharacter(std::string_view body) {
    static constexpr std::array<std::pair<std::string_view, char32_t>, 5> kEntities = {
        {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}}};
    if (body.size() < 2 || body[0] != '#') {
        for (const auto& [name, character] : kEntities) {
            if (body == name) {
                return character;
            }
        }
        return 0;
    }
    const bool hex = body[1] == 'x';
    const std::string_view digits = body.substr(hex ? 2 : 1);
    if (digits.empty()) {
        return 0;
    }
    char32_t value = 0;
    for (const char c : digits) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return 0;
        }
        value = value * (hex ? 16 : 10) + digit;
        if (value > kMaxCharacter) {
            return 0;
        }
    }
    return StrictXml::IsXmlCharacter(value) ? value : 0;
}

// Checks a value pugixml left undecoded and decodes it in place when it holds a reference.
template <typename Setter> bool DecodeValue(const char* raw, Setter set) {
    if (std::strchr(raw, '&') == nullptr) {
        return true;
    }
    std::string decoded;
    if (!StrictXml::DecodeReferences(raw, decoded)) {
        return false;
    }
    return set(decoded.c_str());
}

constexpr const char* kBadReference =
    "a bare \"&\", an undefined entity or a reference to no legal character";

// Why the element's attributes are not well-formed; null when they are.
const char* CheckAttributes(pugi::xml_node element) {
    std::vector<std::string_view> names;
    for (pugi::xml_attribute attribute : element.attributes()) {
        if (std::strchr(attribute.value(), '<') != nullptr) {
            return "\"<\" in an attribute value";
        }
        if (!DecodeValue(attribute.value(), [&](const char* value) { return attribute.set_value(value); })) {
            return kBadReference;
        }
        names.emplace_back(attribute.name());
    }
    if (names.size() < 2) {
        return nullptr;
    }
    std::sort(names.begin(), names.end());
    return std::adjacent_find(names.begin(), names.end()) == names.end() ? nullptr
                                                                         : "an attribute named twice";
}

// Why the node is not well-formed; null when it is.
const char* CheckNode(pugi::xml_node node) {
    switch (node.type()) {
    case pugi::node_element:
        return CheckAttributes(node);
    case pugi::node_pcdata:
        if (std::strstr(node.value(), "]]>") != nullptr) {
            return "\"]]>\" in text";
        }
        return DecodeValue(node.value(), [&](const char* value) { return node.set_value(value); })
                   ? nullptr
                   : kBadReference;
    default:
        return nullptr;
    }
}

// A well-formed document has exactly one root element and nothing but markup and blanks beside it.
const char* CheckRoot(const pugi::xml_document& document) {
    int elements = 0;
    for (const pugi::xml_node child : document.children()) {
        if (child.type() == pugi::node_element) {
            ++elements;
        } else if (child.type() == pugi::node_cdata ||
                   (child.type() == pugi::node_pcdata &&
                    std::strspn(child.value(), " \t\r\n") != std::strlen(child.value()))) {
            return "text beside the root element";
        }
    }
    if (elements == 0) {
        return "no root element";
    }
    return elements == 1 ? nullptr : "more than one root element";
}

bool Refuse(pugi::xml_document& document, std::string* problem, std::string why) {
    document.reset();
    if (problem != nullptr) {
        *problem = std::move(why);
    }
    return false;
}

} // namespace

bool StrictXml::IsXmlCharacter(char32_t c) {
    return c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= kMaxCharacter);
}

bool StrictXml::DecodeReferences(std::string_view raw, std::string& out) {
    for (;;) {
        const std::size_t amp = raw.find('&');
        out.append(raw.substr(0, amp));
        if (amp == std::string_view::npos) {
            return true;
        }
        const std::size_t semicolon = raw.find(';', amp);
        if (semicolon == std::string_view::npos) {
            return false;
        }
        const char32_t character = ReferencedCharacter(raw.substr(amp + 1, semicolon - amp - 1));
        if (character == 0) {
            return false;
        }
        out += Utf32ToUtf8(std::u32string_view(&character, 1));
        raw.remove_prefix(semicolon + 1);
    }
}

bool StrictXml::Parse(pugi::xml_document& document, char* text, std::size_t size, unsigned options,
                      std::size_t markupLimit, std::string* problem) {
    document.reset();
    if (HasControlCharacter(text, size)) {
        return Refuse(document, problem, "a control character");
    }
    if (markupLimit > 0 && MarkupCount(text, size) > markupLimit) {
        return Refuse(document, problem, "more markup than allowed");
    }
    const unsigned parseOptions = (options & ~pugi::parse_escapes) | pugi::parse_fragment;
    const pugi::xml_parse_result parsed =
        document.load_buffer_inplace(text, size, parseOptions, pugi::encoding_utf8);
    if (!parsed) {
        return Refuse(document, problem,
                      std::string(parsed.description()) + " at byte " + std::to_string(parsed.offset));
    }
    if (const char* why = CheckRoot(document)) {
        return Refuse(document, problem, why);
    }
    // Every node once, without recursion: nesting depth is the sender's choice.
    pugi::xml_node node = document.first_child();
    while (node) {
        if (const char* why = CheckNode(node)) {
            return Refuse(document, problem, why);
        }
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node && !node.next_sibling()) {
            node = node.parent();
        }
        if (node) {
            node = node.next_sibling();
        }
    }
    return true;
}
