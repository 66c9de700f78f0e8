#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// Document folders as client devices leave them on a pen drive, for tests and pictures.
namespace drivedocuments {

struct Document {
    std::string application;
    std::string description;
    std::string filename;
    std::string datetime;
    std::string copies;
    std::string printed;
    std::string content;
};

// The description file as devices write it: UTF-8 with CR LF line ends.
inline std::string DescriptionFile(const Document& document) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<document>\r\n<title>T</title>\r\n<description>" +
           document.description + "</description>\r\n<application>" + document.application +
           "</application>\r\n<filename>" + document.filename + "</filename>\r\n<datetime>" +
           document.datetime + "</datetime>\r\n<copies>" + document.copies + "</copies>\r\n<printed>" +
           document.printed + "</printed>\r\n</document>\r\n";
}

// Writes the document and its description into `drive`/Ferrulo/`folder`; returns that folder.
inline std::filesystem::path AddDocumentFolder(const std::filesystem::path& drive, const std::string& folder,
                                               const Document& document) {
    const std::filesystem::path path = drive / "Ferrulo" / folder;
    std::filesystem::create_directories(path);
    std::ofstream(path / "printinfo.xml", std::ios::binary | std::ios::trunc) << DescriptionFile(document);
    std::ofstream(path / document.filename, std::ios::binary | std::ios::trunc) << document.content;
    return path;
}

// The `printed` value of a folder's description file.
inline std::string PrintedMark(const std::filesystem::path& folder) {
    std::ifstream in(folder / "printinfo.xml", std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t start = file.find("<printed>");
    if (start == std::string::npos) {
        return {};
    }
    return file.substr(start + 9, file.find("</printed>", start) - start - 9);
}

} // namespace drivedocuments
