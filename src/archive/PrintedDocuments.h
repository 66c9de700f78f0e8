#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "print/PrintJobRecord.h"

// The register of documents printed while backup is on: "printed.xml", UTF-16 LE with a byte-order
// mark, one `print` element per document under `prints`. It is read once and kept in memory; every
// change is saved by a thread of the register's own, replacing the file atomically, so that the
// thread that prints never waits for the disk and a long register costs no more per print than a
// short one. A file changed by hand since it was read is read again. A register that cannot be parsed
// is moved aside whole ("printed.xml.unreadable-<date>") when an entry is added, and a new one is
// started. Safe to use from several threads.
class PrintedDocuments {
public:
    // Content of a register that did not exist yet (after the byte-order mark).
    static constexpr const char* kInitialContent =
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?><prints></prints>";

    using RecordSink = std::function<void(std::unique_ptr<PrintJobRecord>)>;

    // The register in the data folder; empty when the program runs without a data folder.
    static std::filesystem::path DefaultPath();

    explicit PrintedDocuments(std::filesystem::path registerPath = DefaultPath());
    // Waits for the last change to be saved.
    ~PrintedDocuments();
    PrintedDocuments(const PrintedDocuments&) = delete;
    PrintedDocuments& operator=(const PrintedDocuments&) = delete;

    // Appends an entry dated now and has the register saved. False when there is no register (no data
    // folder) or the register could not take the entry.
    bool AddPrintedDocument(const std::string& receivedFileName, const std::string& printerName,
                            const std::string& documentName, const std::string& workingFolder,
                            std::uint32_t id);
    // Hands one record per entry whose working folder still exists to `sink`, in file order.
    void LoadPrintedDocuments(const RecordSink& sink);
    // Removes the first entry with this id and has the register saved (also when none matched). False
    // when the register does not exist or cannot be read.
    bool RemovePrintedDocument(std::uint32_t id);
    // Waits until every change so far is on disk; false when the last save failed (the log says so).
    bool Flush();

    const std::filesystem::path& Path() const { return registerPath; }

private:
    struct FileIdentity;
    struct State;

    // Reads the file when it was not read yet or changed since; the caller holds the lock.
    bool LoadedLocked();
    void ScheduleSaveLocked();
    void SaveLoop();

    std::filesystem::path registerPath;
    std::unique_ptr<State> state;
    std::mutex lock;
    std::condition_variable changed;
    std::thread saver;
};
