#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "print/PrintJobRecord.h"

// The register of documents printed through the main window while backup is on: "printed.xml",
// UTF-16 LE with a byte-order mark, one `print` element per document under `prints`. Every operation
// loads and saves the whole file. A register that cannot be parsed is moved aside whole
// ("printed.xml.unreadable-<date>") when an entry is added, and a new one is started.
class PrintedDocuments {
public:
    // Content of a register that did not exist yet (after the byte-order mark).
    static constexpr const char* kInitialContent =
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?><prints></prints>";

    using RecordSink = std::function<void(std::unique_ptr<PrintJobRecord>)>;

    // The register in the data folder; empty when the program runs without a data folder.
    static std::filesystem::path DefaultPath();

    explicit PrintedDocuments(std::filesystem::path registerPath = DefaultPath());

    // Appends an entry dated now; creates the register first when it does not exist. True when the
    // updated register was saved.
    bool AddPrintedDocument(const std::string& receivedFileName, const std::string& printerName,
                            const std::string& documentName, const std::string& workingFolder,
                            std::uint32_t id) const;
    // Hands one record per entry whose working folder still exists to `sink`, in file order.
    void LoadPrintedDocuments(const RecordSink& sink) const;
    // Removes the first entry with this id and saves (also when none matched). True when saved.
    bool RemovePrintedDocument(std::uint32_t id) const;

    const std::filesystem::path& Path() const { return registerPath; }

private:
    bool CreateInitialRegister() const;

    std::filesystem::path registerPath;
};
