#pragma once

#include <cstddef>
#include <pugixml.hpp>
#include <string>
#include <string_view>

// Parses text that must be a well-formed XML document, which pugixml alone does not insist on: one
// root element and no text beside it, no control characters, no attribute named twice in an
// element, no "<" in an attribute value, no "]]>" in text, and only the five predefined entities and
// character references to legal characters. A document type's internal subset is skipped, never
// expanded, so an entity it declares counts as undefined.
class StrictXml {
public:
    // Parses `text` in place into `document` with pugixml `options` (parse_escapes is done here after
    // the checks). With a `markupLimit`, a text holding more "<" and "=" than that is refused before
    // it is parsed, which keeps the memory a message can make the parser take in proportion to it.
    // `problem`, when given, receives why a text was refused.
    static bool Parse(pugi::xml_document& document, char* text, std::size_t size, unsigned options,
                      std::size_t markupLimit = 0, std::string* problem = nullptr);

    // Appends `raw` to `out` with its references replaced by their characters; false when it holds a
    // bare "&", an undefined entity or a reference to a character XML does not allow.
    static bool DecodeReferences(std::string_view raw, std::string& out);
    static bool IsXmlCharacter(char32_t c);
};
