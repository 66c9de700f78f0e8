#include "archive/gui/DocumentFolderInterceptor.h"

#include <QUrl>
#include <QWebEngineUrlRequestInfo>
#include <algorithm>
#include <array>
#include <system_error>

#include "app/EventLog.h"

namespace {

// Addresses that never leave the browser: inline data, and the engine's own pages (its PDF viewer).
constexpr std::array<const char*, 5> kInternalSchemes = {"data", "blob", "about", "chrome",
                                                         "chrome-extension"};
// A hostile page may ask for thousands of addresses; the log tells of the first ones.
constexpr int kRefusalsLogged = 20;

std::filesystem::path Resolved(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
    if (error) {
        return {};
    }
    // "/a/b/" names the folder "/a/b".
    return resolved.has_filename() ? resolved : resolved.parent_path();
}

bool IsInside(const std::filesystem::path& path, const std::filesystem::path& folder) {
    if (folder.empty() || path.empty()) {
        return false;
    }
    return std::mismatch(folder.begin(), folder.end(), path.begin(), path.end()).first == folder.end();
}

} // namespace

DocumentFolderInterceptor::DocumentFolderInterceptor(QObject* parent)
    : QWebEngineUrlRequestInterceptor(parent) {}

void DocumentFolderInterceptor::Allow(const std::filesystem::path& folder,
                                      const std::filesystem::path& extraFile) {
    const std::filesystem::path resolvedFolder = Resolved(folder);
    const std::filesystem::path resolvedFile =
        extraFile.empty() ? std::filesystem::path() : Resolved(extraFile);
    std::lock_guard guard(lock);
    allowedFolder = resolvedFolder;
    allowedFile = resolvedFile;
    refusalsLogged = 0;
}

bool DocumentFolderInterceptor::IsAllowed(const QUrl& url) const {
    const QString scheme = url.scheme().toLower();
    for (const char* internal : kInternalSchemes) {
        if (scheme == QLatin1String(internal)) {
            return true;
        }
    }
    if (!url.isLocalFile() || !url.host().isEmpty()) {
        return false;
    }
    // Links are followed here, so a link that an archive left in the folder cannot point out of it.
    const std::filesystem::path file = Resolved(url.toLocalFile().toStdString());
    std::lock_guard guard(lock);
    return (!allowedFile.empty() && file == allowedFile) || IsInside(file, allowedFolder);
}

void DocumentFolderInterceptor::interceptRequest(QWebEngineUrlRequestInfo& info) {
    if (IsAllowed(info.requestUrl())) {
        return;
    }
    info.block(true);
    std::lock_guard guard(lock);
    if (refusalsLogged < kRefusalsLogged) {
        ++refusalsLogged;
        EventLog::Write("[WARNING] Refused %s: outside the folder of the document shown",
                        info.requestUrl().toString().toStdString().c_str());
    }
}
