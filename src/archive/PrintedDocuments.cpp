#include "archive/PrintedDocuments.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <pugixml.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include "app/DataFolder.h"
#include "app/EventLog.h"

namespace {

constexpr const char* kRegisterFileName = "printed.xml";
constexpr const char* kRootName = "prints";
constexpr const char* kEntryName = "print";
constexpr const char* kEntriesQuery = "//prints/print";
constexpr const char* kDateFormat = "%d.%m.%Y %H:%M:%S";
constexpr std::size_t kDateBufferSize = 64;
// An unreadable register is kept beside the new one as "printed.xml.unreadable-<date>".
constexpr const char* kAsideSuffix = ".unreadable-";
constexpr const char* kAsideStampFormat = "%Y%m%d-%H%M%S";
constexpr unsigned int kLoadOptions = pugi::parse_default | pugi::parse_declaration;
// Raw output keeps the file exactly as we wrote it: no indentation, and an empty `prints` element
// comes out as "<prints></prints>" like the initial content.
constexpr unsigned int kSaveOptions =
    pugi::format_raw | pugi::format_write_bom | pugi::format_no_empty_element_tags;

class StringWriter : public pugi::xml_writer {
public:
    void write(const void* data, std::size_t size) override {
        bytes.append(static_cast<const char*>(data), size);
    }
    std::string bytes;
};

// The register id as the log and the file show it: a signed 32-bit number.
std::string IdText(std::uint32_t id) {
    return std::to_string(static_cast<std::int32_t>(id));
}

std::string CurrentDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[kDateBufferSize] = {};
    const std::size_t length = std::strftime(buffer, sizeof buffer, kDateFormat, &local);
    return std::string(buffer, length);
}

bool SyncFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

std::filesystem::path TempPathBeside(const std::filesystem::path& target) {
    return target.parent_path() /
           ("." + target.filename().string() + "." + std::to_string(::getpid()) + ".tmp");
}

bool WriteWhole(const std::filesystem::path& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    bool written = true;
    while (!bytes.empty()) {
        const ssize_t count = ::write(fd, bytes.data(), bytes.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            written = false;
            break;
        }
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    return ::close(fd) == 0 && written;
}

bool LoadRegister(pugi::xml_document& document, const std::filesystem::path& path) {
    return document.load_file(path.c_str(), kLoadOptions, pugi::encoding_utf16_le).status == pugi::status_ok;
}

// Why the register cannot take new entries, if it cannot.
std::optional<std::string> RegisterProblem(const std::filesystem::path& path) {
    pugi::xml_document document;
    const pugi::xml_parse_result parsed =
        document.load_file(path.c_str(), kLoadOptions, pugi::encoding_utf16_le);
    if (parsed.status != pugi::status_ok) {
        return std::string(parsed.description()) + " at byte " + std::to_string(parsed.offset);
    }
    if (!document.child(kRootName)) {
        return std::string("no prints element");
    }
    return std::nullopt;
}

// Moves an unreadable register out of the way, keeping every byte of it; false when it cannot be moved.
bool MoveAside(const std::filesystem::path& path, const std::string& why) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[kDateBufferSize] = {};
    std::strftime(stamp, sizeof stamp, kAsideStampFormat, &local);
    const std::string base = path.string() + kAsideSuffix + stamp;
    std::filesystem::path aside = base;
    std::error_code error;
    for (int n = 1; std::filesystem::exists(std::filesystem::symlink_status(aside, error)); ++n) {
        aside = base + "-" + std::to_string(n);
    }
    std::filesystem::rename(path, aside, error);
    if (error) {
        EventLog::Write("[ERROR] Register %s cannot be read (%s) nor moved aside: %s", path.c_str(),
                        why.c_str(), error.message().c_str());
        return false;
    }
    EventLog::Write("[WARNING] Register %s cannot be read (%s); moved to %s, a new one is started",
                    path.c_str(), why.c_str(), aside.c_str());
    return true;
}

bool RegisterExists(const std::filesystem::path& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::exists(path, error);
}

std::string Serialized(const pugi::xml_document& document) {
    StringWriter writer;
    document.save(writer, PUGIXML_TEXT(""), kSaveOptions, pugi::encoding_utf16_le);
    return std::move(writer.bytes);
}

} // namespace

// What the file was when it was last read or written: a file changed since is read again.
struct PrintedDocuments::FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modified = 0;

    static FileIdentity Of(const std::filesystem::path& path) {
        FileIdentity identity;
        struct stat info {};
        if (!path.empty() && ::stat(path.c_str(), &info) == 0) {
            identity.exists = true;
            identity.device = info.st_dev;
            identity.inode = info.st_ino;
            identity.size = info.st_size;
            identity.modified =
                static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        }
        return identity;
    }
    bool operator==(const FileIdentity&) const = default;
};

struct PrintedDocuments::State {
    pugi::xml_document document;
    // `document` holds the register (as read, or as it will be saved).
    bool loaded = false;
    // The file exists but cannot be read as a register; `problem` says why.
    bool unreadable = false;
    std::string problem;
    FileIdentity seen;
    std::uint64_t version = 0;
    std::uint64_t savedVersion = 0;
    bool lastSaveSucceeded = true;
    bool quitting = false;
};

std::filesystem::path PrintedDocuments::DefaultPath() {
    const std::filesystem::path folder = DataFolder::Path();
    return folder.empty() ? std::filesystem::path() : folder / kRegisterFileName;
}

PrintedDocuments::PrintedDocuments(std::filesystem::path path)
    : registerPath(std::move(path)), state(std::make_unique<State>()) {}

PrintedDocuments::~PrintedDocuments() {
    {
        std::lock_guard guard(lock);
        state->quitting = true;
    }
    changed.notify_all();
    if (saver.joinable()) {
        saver.join();
    }
}

bool PrintedDocuments::LoadedLocked() {
    const FileIdentity now = FileIdentity::Of(registerPath);
    // Changes not saved yet win over the file: they are what the register is to become.
    const bool pending = state->version != state->savedVersion;
    if ((state->loaded || state->unreadable) && (now == state->seen || pending)) {
        return state->loaded;
    }
    state->seen = now;
    state->loaded = false;
    state->unreadable = false;
    if (!now.exists) {
        // A register that does not exist yet starts as the initial content.
        state->document.load_string(kInitialContent, kLoadOptions);
        state->loaded = true;
        return true;
    }
    if (const std::optional<std::string> problem = RegisterProblem(registerPath)) {
        state->unreadable = true;
        state->problem = *problem;
        return false;
    }
    state->loaded = LoadRegister(state->document, registerPath);
    return state->loaded;
}

void PrintedDocuments::ScheduleSaveLocked() {
    ++state->version;
    if (!saver.joinable()) {
        saver = std::thread(&PrintedDocuments::SaveLoop, this);
    }
    changed.notify_all();
}

void PrintedDocuments::SaveLoop() {
    std::unique_lock guard(lock);
    for (;;) {
        changed.wait(guard, [this] { return state->quitting || state->version != state->savedVersion; });
        if (state->version == state->savedVersion) {
            return;
        }
        // Changes made while this save runs are saved by the next round, together.
        const std::uint64_t version = state->version;
        const std::string bytes = Serialized(state->document);
        guard.unlock();
        const std::filesystem::path temp = TempPathBeside(registerPath);
        bool written = WriteWhole(temp, bytes) && SyncFile(temp);
        guard.lock();
        if (written) {
            // Renamed under the lock, so that nobody takes the new file for a change made by hand.
            std::error_code error;
            std::filesystem::rename(temp, registerPath, error);
            written = !error;
        }
        if (!written) {
            std::error_code error;
            std::filesystem::remove(temp, error);
            EventLog::Write("Failed to save printed document information.");
        }
        state->seen = FileIdentity::Of(registerPath);
        state->lastSaveSucceeded = written;
        state->savedVersion = version;
        changed.notify_all();
    }
}

bool PrintedDocuments::Flush() {
    std::unique_lock guard(lock);
    changed.wait(guard, [this] { return state->version == state->savedVersion; });
    return state->lastSaveSucceeded;
}

bool PrintedDocuments::AddPrintedDocument(const std::string& receivedFileName, const std::string& printerName,
                                          const std::string& documentName, const std::string& workingFolder,
                                          std::uint32_t id) {
    if (registerPath.empty()) {
        return false;
    }
    std::lock_guard guard(lock);
    try {
        if (!LoadedLocked() && state->unreadable) {
            // A register that cannot be parsed would swallow every new entry: it goes aside, whole.
            if (!MoveAside(registerPath, state->problem)) {
                EventLog::Write("Failed to save printed document information.");
                return false;
            }
            LoadedLocked();
        }
        pugi::xml_node root = state->document.child(kRootName);
        if (!state->loaded || !root) {
            EventLog::Write("Failed to save printed document information.");
            return false;
        }
        pugi::xml_node entry = root.append_child(kEntryName);
        entry.append_attribute("id").set_value(IdText(id).c_str());
        entry.append_attribute("date").set_value(CurrentDate().c_str());
        entry.append_attribute("zip").set_value(receivedFileName.c_str());
        entry.append_attribute("prn").set_value(printerName.c_str());
        entry.append_attribute("index").set_value(documentName.c_str());
        entry.append_attribute("dir").set_value(workingFolder.c_str());
    } catch (const std::exception&) {
        EventLog::Write("Failed to save printed document information.");
        return false;
    }
    ScheduleSaveLocked();
    return true;
}

void PrintedDocuments::LoadPrintedDocuments(const RecordSink& sink) {
    std::vector<std::unique_ptr<PrintJobRecord>> records;
    {
        std::lock_guard guard(lock);
        if (!RegisterExists(registerPath) && state->version == state->savedVersion) {
            return;
        }
        try {
            if (!LoadedLocked()) {
                EventLog::Write("Failed to load printed document from XML.");
                return;
            }
            for (const pugi::xpath_node& selected : state->document.select_nodes(kEntriesQuery)) {
                const pugi::xml_node entry = selected.node();
                auto record = std::make_unique<PrintJobRecord>();
                record->printerName = entry.attribute("prn").value();
                record->receivedFileName = entry.attribute("zip").value();
                record->documentName = entry.attribute("index").value();
                record->copies = 1;
                record->workingFolder = entry.attribute("dir").value();
                record->date = entry.attribute("date").value();
                record->id =
                    static_cast<std::uint32_t>(std::strtol(entry.attribute("id").value(), nullptr, 10));
                records.push_back(std::move(record));
            }
        } catch (const std::exception&) {
            EventLog::Write("Failed to load printed document from XML.");
            return;
        }
    }
    // The folders are looked at and the records handed on without the lock: the sink may be slow.
    for (std::unique_ptr<PrintJobRecord>& record : records) {
        std::error_code error;
        if (std::filesystem::exists(record->workingFolder, error)) {
            sink(std::move(record));
        }
    }
}

bool PrintedDocuments::RemovePrintedDocument(std::uint32_t id) {
    std::lock_guard guard(lock);
    if (!RegisterExists(registerPath) && state->version == state->savedVersion) {
        return false;
    }
    try {
        if (!LoadedLocked()) {
            EventLog::Write("Failed to remove printed document %ld from XML.",
                            static_cast<long>(static_cast<std::int32_t>(id)));
            return false;
        }
        const std::string query = std::string(kEntriesQuery) + "[@id=\"" + IdText(id) + "\"]";
        const pugi::xpath_node first = state->document.select_node(query.c_str());
        if (first) {
            first.parent().remove_child(first.node());
        }
    } catch (const std::exception&) {
        EventLog::Write("Failed to remove printed document %ld from XML.",
                        static_cast<long>(static_cast<std::int32_t>(id)));
        return false;
    }
    ScheduleSaveLocked();
    return true;
}
