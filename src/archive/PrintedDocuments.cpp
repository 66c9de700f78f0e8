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

#include <fcntl.h>
#include <pugixml.hpp>
#include <unistd.h>

#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "app/UTF16File.h"

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

// Moves a completely written temporary file over `target`; the temporary file goes in any case.
bool Replace(const std::filesystem::path& temp, const std::filesystem::path& target) {
    std::error_code error;
    if (!SyncFile(temp)) {
        std::filesystem::remove(temp, error);
        return false;
    }
    std::filesystem::rename(temp, target, error);
    if (error) {
        std::filesystem::remove(temp, error);
        return false;
    }
    return true;
}

bool WriteWhole(const std::filesystem::path& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
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

bool SaveRegister(const pugi::xml_document& document, const std::filesystem::path& path) {
    StringWriter writer;
    document.save(writer, PUGIXML_TEXT(""), kSaveOptions, pugi::encoding_utf16_le);
    const std::filesystem::path temp = TempPathBeside(path);
    if (!WriteWhole(temp, writer.bytes)) {
        std::error_code error;
        std::filesystem::remove(temp, error);
        return false;
    }
    return Replace(temp, path);
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

} // namespace

std::filesystem::path PrintedDocuments::DefaultPath() {
    const std::filesystem::path folder = DataFolder::Path();
    return folder.empty() ? std::filesystem::path() : folder / kRegisterFileName;
}

PrintedDocuments::PrintedDocuments(std::filesystem::path path) : registerPath(std::move(path)) {}

bool PrintedDocuments::CreateInitialRegister() const {
    const std::filesystem::path temp = TempPathBeside(registerPath);
    {
        UTF16File file;
        file.Open(temp.string(), true);
        file.Write(kInitialContent);
        file.Close();
    }
    // The writer reports nothing, so check that the whole text arrived before the file counts.
    constexpr std::size_t kByteOrderMarkSize = 2;
    const std::size_t expected = kByteOrderMarkSize + 2 * std::string_view(kInitialContent).size();
    std::error_code error;
    if (std::filesystem::file_size(temp, error) != expected || error) {
        std::filesystem::remove(temp, error);
        return false;
    }
    return Replace(temp, registerPath);
}

bool PrintedDocuments::AddPrintedDocument(const std::string& receivedFileName, const std::string& printerName,
                                          const std::string& documentName, const std::string& workingFolder,
                                          std::uint32_t id) const {
    if (registerPath.empty()) {
        return false;
    }
    bool saved = false;
    try {
        // A register that cannot be parsed would swallow every new entry: it goes aside, whole.
        if (RegisterExists(registerPath)) {
            if (const std::optional<std::string> problem = RegisterProblem(registerPath)) {
                MoveAside(registerPath, *problem);
            }
        }
        pugi::xml_document document;
        if ((RegisterExists(registerPath) || CreateInitialRegister()) &&
            LoadRegister(document, registerPath)) {
            pugi::xml_node root = document.child(kRootName);
            if (root) {
                pugi::xml_node entry = root.append_child(kEntryName);
                entry.append_attribute("id").set_value(IdText(id).c_str());
                entry.append_attribute("date").set_value(CurrentDate().c_str());
                entry.append_attribute("zip").set_value(receivedFileName.c_str());
                entry.append_attribute("prn").set_value(printerName.c_str());
                entry.append_attribute("index").set_value(documentName.c_str());
                entry.append_attribute("dir").set_value(workingFolder.c_str());
                saved = SaveRegister(document, registerPath);
            }
        }
    } catch (const std::exception&) {
        saved = false;
    }
    if (!saved) {
        EventLog::Write("Failed to save printed document information.");
    }
    return saved;
}

void PrintedDocuments::LoadPrintedDocuments(const RecordSink& sink) const {
    if (!RegisterExists(registerPath)) {
        return;
    }
    try {
        pugi::xml_document document;
        if (!LoadRegister(document, registerPath)) {
            EventLog::Write("Failed to load printed document from XML.");
            return;
        }
        for (const pugi::xpath_node& selected : document.select_nodes(kEntriesQuery)) {
            const pugi::xml_node entry = selected.node();
            const std::string folder = entry.attribute("dir").value();
            std::error_code error;
            if (!std::filesystem::exists(folder, error)) {
                continue;
            }
            auto record = std::make_unique<PrintJobRecord>();
            record->printerName = entry.attribute("prn").value();
            record->receivedFileName = entry.attribute("zip").value();
            record->documentName = entry.attribute("index").value();
            record->copies = 1;
            record->workingFolder = folder;
            record->date = entry.attribute("date").value();
            record->id = static_cast<std::uint32_t>(std::strtol(entry.attribute("id").value(), nullptr, 10));
            sink(std::move(record));
        }
    } catch (const std::exception&) {
        EventLog::Write("Failed to load printed document from XML.");
    }
}

bool PrintedDocuments::RemovePrintedDocument(std::uint32_t id) const {
    if (!RegisterExists(registerPath)) {
        return false;
    }
    bool saved = false;
    try {
        pugi::xml_document document;
        if (LoadRegister(document, registerPath)) {
            const std::string query = std::string(kEntriesQuery) + "[@id=\"" + IdText(id) + "\"]";
            const pugi::xpath_node first = document.select_node(query.c_str());
            if (first) {
                first.parent().remove_child(first.node());
            }
            saved = SaveRegister(document, registerPath);
        }
    } catch (const std::exception&) {
        saved = false;
    }
    if (!saved) {
        EventLog::Write("Failed to remove printed document %ld from XML.",
                        static_cast<long>(static_cast<std::int32_t>(id)));
    }
    return saved;
}
