#pragma once

#include <filesystem>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>

// An XML file that a person may have written: read in the encoding it declares (8-bit encodings such
// as windows-1252 through iconv), refused when it is not well-formed, and written back in the same
// encoding with its byte-order mark. Characters the encoding cannot hold are written as numeric
// character references.
class EncodedXmlFile {
public:
    // Larger files are no settings file of ours.
    static constexpr std::size_t kSizeLimit = 16 * 1024 * 1024;

    // Reads and parses `path`. False, with Problem() saying why, when the file cannot be read, its
    // encoding is unknown, its text does not match that encoding or it is not well-formed.
    bool Load(const std::filesystem::path& path, unsigned parseOptions);
    // The same for the bytes of a file.
    bool Parse(std::string_view bytes, unsigned parseOptions);

    pugi::xml_document& Document() { return document; }
    const pugi::xml_document& Document() const { return document; }
    const std::string& Problem() const { return problem; }

    // The bytes of the file for the document as it is now, in the encoding it was read in; nothing
    // when that encoding is no longer available.
    std::optional<std::string> Serialize() const;
    // Writes Serialize() over `path`, replacing the file atomically.
    bool SaveAtomically(const std::filesystem::path& path) const;

private:
    bool Fail(std::string why);

    // The text the document was parsed from, in UTF-8; the document keeps its strings in it.
    std::string text;
    pugi::xml_document document;
    std::string problem;
    // How the file was read: pugixml's own UTF-8, UTF-16 or UTF-32, or an 8-bit encoding by its name.
    pugi::xml_encoding encoding = pugi::encoding_utf8;
    std::string iconvName;
    bool byteOrderMark = false;
};
