#include "archive/gui/ConfinedBrowserProfile.h"

#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include "app/DataFolder.h"
#include "archive/gui/DocumentFolderInterceptor.h"

ConfinedBrowserProfile::ConfinedBrowserProfile()
    : interceptor(std::make_unique<DocumentFolderInterceptor>()),
      profile(std::make_unique<QWebEngineProfile>()) {
    profile->setUrlRequestInterceptor(interceptor.get());
    // Until a folder is given, nothing but the waiting page loads.
    ConfineTo({});
    // Nothing is ever saved from a document.
    QObject::connect(profile.get(), &QWebEngineProfile::downloadRequested, profile.get(),
                     [](QWebEngineDownloadRequest* download) { download->cancel(); });
}

ConfinedBrowserProfile::~ConfinedBrowserProfile() {
    profile->setUrlRequestInterceptor(nullptr);
    profile.reset();
}

std::unique_ptr<QWebEnginePage> ConfinedBrowserProfile::MakePage() const {
    auto page = std::make_unique<QWebEnginePage>(profile.get());
    QWebEngineSettings* settings = page->settings();
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    // Without plugins a PDF turns into a download instead of being shown.
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, true);
    settings->setAttribute(QWebEngineSettings::PdfViewerEnabled, true);
    return page;
}

QWebEngineView* ConfinedBrowserProfile::MakeView(QWidget* parent) const {
    auto* view = new QWebEngineView(parent);
    std::unique_ptr<QWebEnginePage> page = MakePage();
    page->setParent(view);
    view->setPage(page.release());
    return view;
}

void ConfinedBrowserProfile::ConfineTo(const std::filesystem::path& folder) {
    interceptor->Allow(folder,
                       DataFolder::Path().empty() ? std::filesystem::path() : DataFolder::WaitingPage());
}
