#pragma once

#include <QWebEngineUrlRequestInterceptor>
#include <filesystem>
#include <mutex>
#include <string>

// What a document printed by the preview page may load: files inside the folder of its own record
// (its pictures and style sheets), the waiting page, and the browser's own inline and internal
// addresses. Every other file and every remote address is refused, so that a document from the
// network cannot print the server user's files or reach out of the machine.
class DocumentFolderInterceptor : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT

public:
    explicit DocumentFolderInterceptor(QObject* parent = nullptr);

    // The folder of the record being printed, and one more file that may be shown (the waiting page).
    void Allow(const std::filesystem::path& folder, const std::filesystem::path& extraFile);
    // Whether a request for `url` is let through.
    bool IsAllowed(const QUrl& url) const;

    void interceptRequest(QWebEngineUrlRequestInfo& info) override;

private:
    mutable std::mutex lock;
    std::filesystem::path allowedFolder;
    std::filesystem::path allowedFile;
    int refusalsLogged = 0;
};
