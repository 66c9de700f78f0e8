#pragma once

#include <QWebEngineUrlRequestInterceptor>
#include <filesystem>
#include <mutex>
#include <string>

// What a document shown or printed by the program may load: files inside its own folder (its
// pictures and style sheets), the waiting page, and the browser's own inline and internal addresses.
// Every other file and every remote address is refused, so that a document from the network or a pen
// drive cannot show or print the user's files or reach out of the machine. Set up by
// ConfinedBrowserProfile.
class DocumentFolderInterceptor : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT

public:
    explicit DocumentFolderInterceptor(QObject* parent = nullptr);

    // The folder of the document shown, and one more file that may be shown (the waiting page).
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
