// Loads one register of printed documents as the history does at start, removes an entry and adds
// one: an unreadable register is moved aside whole and the new entry is kept.
#include "archive/PrintedDocuments.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::filesystem::path Folder() {
    static const std::filesystem::path folder = [] {
        const std::filesystem::path base =
            std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        std::string pattern = (base / "qopra-register-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        return std::filesystem::path(pattern);
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path folder = Folder();
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::filesystem::remove_all(entry.path());
    }
    const std::filesystem::path path = folder / "printed.xml";
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    PrintedDocuments documents(path);
    std::uint32_t firstId = 0;
    bool any = false;
    documents.LoadPrintedDocuments([&](std::unique_ptr<PrintJobRecord> record) {
        if (!record) {
            std::abort();
        }
        if (!any) {
            firstId = record->id;
            any = true;
        }
    });
    documents.RemovePrintedDocument(firstId);
    if (!documents.AddPrintedDocument("a.7z", "Office", "a.htm", folder.string(), 7)) {
        std::abort();
    }
    bool found = false;
    documents.LoadPrintedDocuments(
        [&](std::unique_ptr<PrintJobRecord> record) { found = found || record->id == 7; });
    if (!found) {
        std::abort();
    }
    return 0;
}
