#pragma once

#include <filesystem>
#include <pugixml.hpp>
#include <string>

// What the settings and the register need around pugixml.
class XmlFile {
public:
    // The element's text content: all text below it, in document order.
    static std::string TextContent(const pugi::xml_node& node);
    // Writes the whole document (no indentation added) in `encoding`, replacing the file atomically.
    static bool SaveAtomically(const pugi::xml_document& document, const std::filesystem::path& path,
                               pugi::xml_encoding encoding);
};
