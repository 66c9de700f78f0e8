// Reads one description file as the pen-drive code does, saves it, and edits its printed mark: the
// file must come back byte for byte where the encoding allows it, and the mark must read back.
#include "xml/XmlTextDocument.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace {

// A folder of the run's own, removed when the run ends.
struct RunFolder {
    RunFolder() {
        // Memory-backed where there is such a folder: every save is flushed to disk.
        std::error_code error;
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        std::string pattern = (base / "qopra-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        path = pattern;
    }
    ~RunFolder() {
        std::error_code error;
        std::filesystem::remove_all(path, error);
    }
    std::filesystem::path path;
};

const std::filesystem::path& Folder() {
    static const RunFolder folder;
    return folder.path;
}

std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Encodings whose conversion back gives the same bytes.
bool ConvertsBackExactly(const std::string& resultLog) {
    return resultLog.find("converted_from") == std::string::npos ||
           resultLog.find("converted_from encoding=\"UTF-8\"") != std::string::npos ||
           resultLog.find("converted_from encoding=\"CP1252\"") != std::string::npos;
}

// Whether the bytes begin like a byte-order mark.
bool BeginsWithMark(const std::string& bytes) {
    return bytes.rfind("\xff\xfe", 0) == 0 || bytes.rfind("\xfe\xff", 0) == 0 ||
           bytes.rfind("\xef\xbb\xbf", 0) == 0;
}

bool EnterDocument(XmlTextDocument& document) {
    return document.FindNextElement("document") && document.EnterElement();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::filesystem::path in = Folder() / "printinfo.xml";
    const std::filesystem::path out = Folder() / "saved.xml";
    std::ofstream(in, std::ios::binary | std::ios::trunc) << input;

    XmlTextDocument document;
    const bool wellFormed = document.LoadFile(in);
    if (EnterDocument(document)) {
        for (const char* name :
             {"title", "description", "application", "filename", "datetime", "copies", "printed"}) {
            if (document.FindNextElement(name)) {
                (void)document.GetElementText();
            }
        }
    }
    if (!document.SaveFile(out)) {
        std::abort();
    }
    const bool exact = ConvertsBackExactly(document.GetResultLog());
    if (exact && input.find('\0') == std::string::npos && Read(out) != input) {
        std::abort();
    }

    XmlTextDocument edited;
    edited.LoadFile(in);
    if (!EnterDocument(edited)) {
        return 0;
    }
    const bool hadMark = edited.FindNextElement("printed");
    const bool changed = hadMark ? edited.SetElementText(1) : edited.AppendElement("printed", "0");
    if (!changed || !edited.SaveFile(out)) {
        return 0;
    }
    // NUL bytes before a mark hide it at the first reading only: once they are gone the file reads as
    // the mark says, which is not what it was read as.
    const bool markUncovered = input.find('\0') != std::string::npos && BeginsWithMark(Read(out));
    if (wellFormed && exact && !markUncovered &&
        edited.GetByteOrderMark() != XmlTextDocument::ByteOrderMark::Utf16BigEndian) {
        XmlTextDocument reread;
        if (!reread.LoadFile(out) || !EnterDocument(reread) || !reread.FindNextElement("printed") ||
            reread.GetElementText() != (hadMark ? "1" : "0")) {
            std::abort();
        }
    }
    return 0;
}
