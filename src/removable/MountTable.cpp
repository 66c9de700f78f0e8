#include "removable/MountTable.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <unistd.h>

namespace {

constexpr std::size_t kTableSizeLimit = 64 * 1024 * 1024;

// Mount points and sources escape blanks, tabs, line feeds and backslashes as three octal digits.
std::string Unescape(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && field.size() - i > 3 &&
            std::all_of(field.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                        field.begin() + static_cast<std::ptrdiff_t>(i) + 4,
                        [](char c) { return c >= '0' && c <= '7'; })) {
            out.push_back(static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                                            (field[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && line[at] == ' ') {
            ++at;
        }
        const std::size_t end = std::min(line.find(' ', at), line.size());
        if (end > at) {
            fields.push_back(line.substr(at, end - at));
        }
        at = end;
    }
    return fields;
}

std::optional<unsigned> Decimal(std::string_view text) {
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

bool SysfsSaysRemovable(const std::filesystem::path& file) {
    std::ifstream in(file);
    char flag = 0;
    return in.get(flag) && flag == '1';
}

bool IsBelow(const std::filesystem::path& path, const std::filesystem::path& root) {
    const std::string text = path.lexically_normal().string();
    std::string prefix = root.lexically_normal().string();
    if (prefix.empty()) {
        return false;
    }
    if (prefix.back() != '/') {
        prefix.push_back('/');
    }
    return text.size() > prefix.size() && text.starts_with(prefix);
}

} // namespace

std::vector<MountEntry> MountTable::Parse(std::string_view text) {
    std::vector<MountEntry> entries;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::vector<std::string_view> fields = Fields(text.substr(at, end - at));
        at = end + 1;
        // id parent major:minor root mount-point options [optional fields...] - type source options
        const auto separator = std::find(fields.begin(), fields.end(), "-");
        if (fields.size() < 6 || separator == fields.end() || separator - fields.begin() < 6 ||
            fields.end() - separator < 3) {
            continue;
        }
        const std::string_view device = fields[2];
        const std::size_t colon = device.find(':');
        const auto major = Decimal(device.substr(0, colon));
        const auto minor = colon == std::string_view::npos ? std::nullopt : Decimal(device.substr(colon + 1));
        if (!major || !minor) {
            continue;
        }
        MountEntry entry;
        entry.id = std::string(fields[0]);
        entry.major = *major;
        entry.minor = *minor;
        entry.mountPoint = Unescape(fields[4]);
        entry.fileSystemType = Unescape(separator[1]);
        entry.source = Unescape(separator[2]);
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::optional<std::string> MountTable::ReadAll(int fd) {
    std::string text;
    char buffer[16384];
    off_t offset = 0;
    while (true) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        offset += n;
        if (text.size() > kTableSizeLimit) {
            return std::nullopt;
        }
    }
}

std::optional<std::vector<MountEntry>> MountTable::Read(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    const std::optional<std::string> text = ReadAll(fd);
    ::close(fd);
    if (!text) {
        return std::nullopt;
    }
    return Parse(*text);
}

bool MountTable::IsRemovable(const MountEntry& entry, const VolumeSources& sources) {
    for (const std::filesystem::path& root : sources.mediaRoots) {
        if (IsBelow(entry.mountPoint, root)) {
            return true;
        }
    }
    if (sources.sysfsRoot.empty()) {
        return false;
    }
    const std::filesystem::path device = sources.sysfsRoot / "dev" / "block" /
                                         (std::to_string(entry.major) + ":" + std::to_string(entry.minor));
    if (SysfsSaysRemovable(device / "removable")) {
        return true;
    }
    // A partition has no flag of its own; the disk it belongs to (the folder above) has it.
    std::error_code error;
    return std::filesystem::exists(device / "partition", error) &&
           SysfsSaysRemovable(device / ".." / "removable");
}

std::vector<MountEntry> MountTable::RemovableVolumes(const std::vector<MountEntry>& entries,
                                                     const VolumeSources& sources) {
    // Later lines are mounted over earlier ones at the same place.
    std::map<std::string, const MountEntry*> top;
    for (const MountEntry& entry : entries) {
        top[entry.mountPoint.string()] = &entry;
    }
    std::vector<MountEntry> removable;
    for (const auto& [mountPoint, entry] : top) {
        if (IsRemovable(*entry, sources)) {
            removable.push_back(*entry);
        }
    }
    return removable;
}
