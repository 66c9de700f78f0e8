#include "removable/DocumentFolders.h"
#include "xml/XmlTextDocument.h"

#include <benchmark/benchmark.h>

#include "DriveDescriptions.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr int kDocumentFolders = 1000;
constexpr std::size_t kLargeFileSize = 1000 * 1000;

// A folder for the run, removed at its end.
struct BenchFolder {
    BenchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qopra-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        path = pattern;
    }
    ~BenchFolder() {
        std::error_code error;
        std::filesystem::remove_all(path, error);
    }
    std::filesystem::path path;
};

void Write(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A volume with 1 000 document folders, found through a mount table of the benchmark's own that
// names it below a media root.
void ScanOneThousandDocumentFolders(benchmark::State& state) {
    BenchFolder folder;
    const std::filesystem::path drive = folder.path / "media" / "STICK";
    for (int n = 0; n < kDocumentFolders; ++n) {
        const std::filesystem::path document = drive / "Ferrulo" / ("DOC" + std::to_string(n));
        std::filesystem::create_directories(document);
        Write(document / "printinfo.xml", DriveDescription(n));
        Write(document / "doc.pdf", "%PDF-1.4\n");
    }
    Write(folder.path / "mountinfo", "99 1 0:99 / " + drive.string() + " rw - vfat /dev/sdz1 rw\n");
    VolumeSources sources;
    sources.mountTable = folder.path / "mountinfo";
    sources.sysfsRoot.clear();
    sources.mediaRoots = {folder.path / "media"};
    const DocumentFolders folders(sources);
    std::vector<RemovableDocument> list;
    std::vector<RemovableDocument> second;
    for (auto _ : state) {
        folders.ScanDocumentFolders(list, second);
        benchmark::DoNotOptimize(list.data());
    }
    if (list.size() != kDocumentFolders) {
        state.SkipWithError("not every document folder was found");
    }
    state.SetItemsProcessed(state.iterations() * kDocumentFolders);
}
BENCHMARK(ScanOneThousandDocumentFolders)->Unit(benchmark::kMillisecond);

// About 1 MB of description-like elements, in UTF-8 with a few non-ASCII characters.
std::string LargeDocument() {
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<documents>\r\n";
    for (int n = 0; text.size() < kLargeFileSize; ++n) {
        text += "<document id=\"" + std::to_string(n) + "\"><title>Caff\xC3\xA8 " + std::to_string(n) +
                "</title><description>Fattura &amp; bolla &#8364;</description><copies>2</copies>"
                "<!-- kept --><printed>0</printed></document>\r\n";
    }
    return text + "</documents>\r\n";
}

void XmlTextDocumentLoad1MB(benchmark::State& state) {
    BenchFolder folder;
    const std::string bytes = LargeDocument();
    Write(folder.path / "large.xml", bytes);
    for (auto _ : state) {
        XmlTextDocument document;
        if (!document.LoadFile(folder.path / "large.xml")) {
            state.SkipWithError("the document did not load");
        }
        benchmark::DoNotOptimize(document.GetText().data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(XmlTextDocumentLoad1MB)->Unit(benchmark::kMillisecond);

// Sets the last printed mark of the 1 MB document and saves it (atomically, flushed to disk).
void XmlTextDocumentEditAndSave1MB(benchmark::State& state) {
    BenchFolder folder;
    const std::string bytes = LargeDocument();
    Write(folder.path / "large.xml", bytes);
    XmlTextDocument document;
    document.LoadFile(folder.path / "large.xml");
    document.FindNextElement("documents");
    document.EnterElement();
    while (document.FindNextElement("document")) {
    }
    document.EnterElement();
    document.FindNextElement("printed");
    int mark = 0;
    for (auto _ : state) {
        document.SetElementText(++mark % 2);
        if (!document.SaveFile(folder.path / "saved.xml")) {
            state.SkipWithError("the document was not saved");
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(XmlTextDocumentEditAndSave1MB)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
