#include "archive/TextDocumentPage.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/EventLog.h"
#include "platform/CodePage.h"
#include "platform/TextEncoding.h"
#include "print/DocumentNames.h"

namespace {

// Hidden, and made with a new name each time, so it never takes the place of an unpacked file.
constexpr const char* kPageNamePattern = ".qopra-text-XXXXXX.html";
constexpr int kPageNameSuffixLength = 5; // ".html"

// What a text printout looks like: a monospace font of 10 points, margins of 20 mm, long lines
// wrapped at the margin (anywhere, when they have no blank).
constexpr std::string_view kStyle = "@page { margin: 20mm; }\n"
                                    "html, body { margin: 0; padding: 0; }\n"
                                    "pre { margin: 0; font-family: monospace; font-size: 10pt; "
                                    "white-space: pre-wrap; overflow-wrap: anywhere; tab-size: 8; }\n";

void AppendEscaped(std::string& out, std::string_view text) {
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += c;
        }
    }
}

// The bytes of the regular file `name` of the open folder `folderFd`; links are not followed and
// a pipe does not hold the caller.
bool ReadDocument(int folderFd, const std::string& name, std::string& bytes) {
    const int fd =
        ::openat(folderFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return false;
    }
    struct stat status {};
    bool ok = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
              static_cast<std::uintmax_t>(status.st_size) <= TextDocumentPage::kSizeLimit;
    char chunk[65536];
    while (ok) {
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        ok = count >= 0 && bytes.size() + static_cast<std::size_t>(count) <= TextDocumentPage::kSizeLimit;
        if (count <= 0) {
            break;
        }
        bytes.append(chunk, static_cast<std::size_t>(count));
    }
    ::close(fd);
    return ok;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t count = ::write(fd, bytes.data(), bytes.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

} // namespace

std::string TextDocumentPage::Html(std::string_view bytes, std::string_view title, const CodePage& fallback) {
    const std::string text = TextEncoding::PlainTextToUtf8(bytes, fallback);
    std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>";
    AppendEscaped(page, title);
    page += "</title>\n<style>\n";
    page += kStyle;
    // The line break after <pre> is dropped by every HTML parser; the text's own first line break
    // then stays.
    page += "</style></head>\n<body><pre>\n";
    AppendEscaped(page, text);
    page += "</pre></body></html>\n";
    return page;
}

std::unique_ptr<TextDocumentPage> TextDocumentPage::Write(const std::filesystem::path& folder,
                                                          const std::string& name) {
    if (!DocumentNames::IsPlainFileName(name)) {
        return nullptr;
    }
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
        return nullptr;
    }
    std::string bytes;
    const bool read = ReadDocument(folderFd, name, bytes);
    ::close(folderFd);
    if (!read) {
        return nullptr;
    }
    std::string pagePath = (folder / kPageNamePattern).string();
    const int fd = ::mkstemps(pagePath.data(), kPageNameSuffixLength);
    if (fd < 0) {
        EventLog::Write("[WARNING] Cannot write the text page of %s: %s", name.c_str(), std::strerror(errno));
        return nullptr;
    }
    bool written = WriteAll(fd, Html(bytes, name, CodePage::Wire()));
    int error = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        EventLog::Write("[WARNING] Cannot write the text page of %s: %s", name.c_str(), std::strerror(error));
        ::unlink(pagePath.c_str());
        return nullptr;
    }
    return std::make_unique<TextDocumentPage>(pagePath);
}

TextDocumentPage::~TextDocumentPage() {
    ::unlink(path.c_str());
}
