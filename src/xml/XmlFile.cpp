#include "xml/XmlFile.h"

std::string XmlFile::TextContent(const pugi::xml_node& node) {
    const pugi::xml_node first = node.first_child();
    const auto isText = [](const pugi::xml_node& n) {
        return n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata;
    };
    if (first && !first.next_sibling() && isText(first)) {
        return first.value(); // the usual case: one text, no copy through the walk
    }
    // Iterative, in document order: the nesting depth is whatever the file or the device made it.
    std::string text;
    pugi::xml_node current = first;
    while (current) {
        if (isText(current)) {
            text += current.value();
        } else if (current.type() == pugi::node_element && current.first_child()) {
            current = current.first_child();
            continue;
        }
        while (current != node && !current.next_sibling()) {
            current = current.parent();
        }
        if (current == node) {
            break;
        }
        current = current.next_sibling();
    }
    return text;
}
