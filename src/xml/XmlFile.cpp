#include "xml/XmlFile.h"

#include <sstream>

#include "platform/AtomicFile.h"

namespace {

void AppendText(const pugi::xml_node& node, std::string& out) {
    for (const pugi::xml_node& child : node.children()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
            out += child.value();
        } else if (child.type() == pugi::node_element) {
            AppendText(child, out);
        }
    }
}

} // namespace

std::string XmlFile::TextContent(const pugi::xml_node& node) {
    std::string text;
    AppendText(node, text);
    return text;
}

bool XmlFile::SaveAtomically(const pugi::xml_document& document, const std::filesystem::path& path,
                             pugi::xml_encoding encoding) {
    std::ostringstream out;
    unsigned flags = pugi::format_raw;
    if (encoding == pugi::encoding_utf16_le || encoding == pugi::encoding_utf16_be ||
        encoding == pugi::encoding_utf16) {
        flags |= pugi::format_write_bom;
    }
    // The declaration, if the file had one, is a node of the document and is written back as it was.
    document.save(out, "", flags | pugi::format_no_declaration, encoding);
    return WriteFileAtomically(path, out.str());
}
