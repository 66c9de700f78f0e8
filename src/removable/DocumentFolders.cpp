#include "removable/DocumentFolders.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "app/EventLog.h"
#include "platform/DecimalText.h"
#include "platform/Unicode.h"
#include "print/DocumentStaging.h"
#include "removable/MountTable.h"
#include "xml/XmlTextDocument.h"

namespace {

constexpr std::size_t kDateDigits = 14;

bool IsRealDirectory(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::symlink_status(path, error).type() == std::filesystem::file_type::directory;
}

bool Exists(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

// One description file element, in the order the files are written.
struct Field {
    const char* name;
    std::string RemovableDocument::*text;
};

constexpr Field kTextFields[] = {
    {"title", &RemovableDocument::title},
    {"description", &RemovableDocument::description},
    {"application", &RemovableDocument::application},
    {"filename", &RemovableDocument::filename},
    {"datetime", &RemovableDocument::datetime},
};

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

} // namespace

DocumentFolders::DocumentFolders(VolumeSources volumeSources) : sources(std::move(volumeSources)) {}

std::filesystem::path DocumentFolders::FindEntry(const std::filesystem::path& folder,
                                                 const std::string& name) {
    const std::filesystem::path exact = folder / name;
    if (Exists(exact)) {
        return exact;
    }
    const std::string wanted = AsciiUpper(name);
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        if (AsciiUpper(it->path().filename().string()) == wanted) {
            return it->path();
        }
    }
    return exact;
}

std::vector<std::filesystem::path> DocumentFolders::ListRemovableDrives() const {
    std::vector<std::filesystem::path> drives;
    if (const auto entries = MountTable::Read(sources.mountTable)) {
        for (const MountEntry& volume : MountTable::RemovableVolumes(*entries, sources)) {
            drives.push_back(volume.mountPoint);
        }
    }
    removableDrivePresent = !drives.empty();
    return drives;
}

bool DocumentFolders::HasDocumentFolder(const std::filesystem::path& drive) {
    return Exists(FindEntry(drive, kDocumentRootName));
}

void DocumentFolders::ScanDocumentFolders(std::vector<RemovableDocument>& list,
                                          std::vector<RemovableDocument>& second) const {
    list.clear();
    second.clear();
    ScanDocumentFolders([&](RemovableDocument record) {
        list.push_back(record);
        second.push_back(std::move(record));
    });
}

void DocumentFolders::ScanDocumentFolders(const std::function<void(RemovableDocument)>& found,
                                          const std::stop_token& stop) const {
    for (const std::filesystem::path& drive : ListRemovableDrives()) {
        if (stop.stop_requested()) {
            return;
        }
        const std::filesystem::path root = FindEntry(drive, kDocumentRootName);
        if (!Exists(root)) {
            EventLog::Write("[WARNING] Can't find path %s", root.c_str());
            continue;
        }
        // A link in place of the document root could lead anywhere on this machine.
        if (!IsRealDirectory(root)) {
            continue;
        }
        std::error_code error;
        for (std::filesystem::directory_iterator it(root, error), end; !error && it != end;
             it.increment(error)) {
            if (stop.stop_requested()) {
                return;
            }
            if (!IsRealDirectory(it->path())) {
                continue;
            }
            RemovableDocument record;
            ReadDocumentInfo(it->path(), record);
            found(std::move(record));
        }
    }
}

void DocumentFolders::ReadDocumentInfo(const std::filesystem::path& folder, RemovableDocument& record) {
    const std::filesystem::path path = FindEntry(folder, kDescriptionFileName);
    // The folder is known even when its description is not, so the row can still be deleted.
    record.folderPath = folder;
    record.descriptionPath = path;
    if (!Exists(path)) {
        EventLog::Write("[ERROR] Can't find %s", path.c_str());
        return;
    }
    std::error_code error;
    XmlTextDocument document;
    if (std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::regular ||
        !document.LoadFile(path)) {
        EventLog::Write("[ERROR] Can't load file %s", path.c_str());
        return;
    }
    if (!document.FindNextElement("document") || !document.EnterElement()) {
        return;
    }
    for (const Field& field : kTextFields) {
        if (document.FindNextElement(field.name)) {
            record.*field.text = document.GetElementText();
        }
    }
    if (document.FindNextElement("copies")) {
        record.copies = LeadingInteger(document.GetElementText());
    }
    if (document.FindNextElement("printed")) {
        record.printed = document.GetElementText() != "0";
    } else {
        record.printed = false;
        if (!document.AppendElement("printed", "0") || !document.SaveFile(path)) {
            EventLog::Write("[ERROR] Can't write on file %s", path.c_str());
        }
    }
    if (DocumentStaging::IsPlainFileName(record.filename)) {
        record.documentPath = FindEntry(folder, record.filename);
    } else if (!record.filename.empty()) {
        EventLog::Write("[ERROR] Not a file name of the document folder: %s in %s", record.filename.c_str(),
                        path.c_str());
    }
}

bool DocumentFolders::MarkDocumentPrinted(const std::filesystem::path& documentPath,
                                          const std::vector<RemovableDocument>& list) {
    const std::string wanted = AsciiUpper(documentPath.string());
    const auto found = std::find_if(list.begin(), list.end(), [&](const RemovableDocument& record) {
        return !record.documentPath.empty() && AsciiUpper(record.documentPath.string()) == wanted;
    });
    if (found == list.end()) {
        return false;
    }
    const std::filesystem::path& path = found->descriptionPath;
    if (!Exists(path)) {
        EventLog::Write("[ERROR] Can't find %s", path.c_str());
    }
    std::error_code error;
    XmlTextDocument document;
    if (std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::regular ||
        !document.LoadFile(path)) {
        EventLog::Write("[ERROR] Can't load file %s", path.c_str());
        return false;
    }
    if (!document.FindNextElement("document") || !document.EnterElement()) {
        return false;
    }
    if (!document.FindNextElement("printed")) {
        EventLog::Write("[ERROR] Can't find XML element \"printed\" on file %s", path.c_str());
        return false;
    }
    if (!document.SetElementText(1) || !document.SaveFile(path)) {
        EventLog::Write("[ERROR] Can't write on file %s", path.c_str());
        return false;
    }
    return true;
}

std::string DocumentFolders::FormatDocumentDate(std::string_view datetime) {
    if (datetime.size() < kDateDigits || !std::all_of(datetime.begin(), datetime.begin() + kDateDigits,
                                                      [](char c) { return c >= '0' && c <= '9'; })) {
        return {};
    }
    const auto number = [&](std::size_t from, std::size_t count) {
        int value = 0;
        for (std::size_t i = from; i < from + count; ++i) {
            value = value * 10 + (datetime[i] - '0');
        }
        return value;
    };
    const int year = number(0, 4);
    const int month = number(4, 2);
    const int day = number(6, 2);
    const int hour = number(8, 2);
    const int minute = number(10, 2);
    const int second = number(12, 2);
    static constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || hour > 23 || minute > 59 || second > 59 || day < 1 ||
        day > kDaysInMonth[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0)) {
        return {};
    }
    char text[128];
    std::snprintf(text, sizeof text, " %02d.%02d.%d %02d:%02d:%02d", day, month, year, hour, minute, second);
    return text;
}
