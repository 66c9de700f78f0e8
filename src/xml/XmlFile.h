#pragma once

#include <pugixml.hpp>
#include <string>

// What the settings and the command messages need around pugixml.
class XmlFile {
public:
    // The element's text content: all text below it, in document order.
    static std::string TextContent(const pugi::xml_node& node);
};
