#pragma once

#include <filesystem>
#include <memory>

class DocumentFolderInterceptor;
class QWebEnginePage;
class QWebEngineProfile;
class QWebEngineView;
class QWidget;

// The browser of every view of documents in the program: the main window's view (network documents,
// the history's and the pen drive's previews) and the hidden print page. Documents come from the
// network and from pen drives, so their pages run no scripts, save nothing, and load no file but those
// of the document's own folder and the waiting page, and nothing remote. Pages and views are made
// here only, so none is made without these rules. A profile of its own, kept in memory only: nothing
// of a document outlives the program, and its renderers are shared with no other profile's pages.
// Lives on the GUI thread; every page and view it made must go before it.
class ConfinedBrowserProfile {
public:
    ConfinedBrowserProfile();
    ~ConfinedBrowserProfile();
    ConfinedBrowserProfile(const ConfinedBrowserProfile&) = delete;
    ConfinedBrowserProfile& operator=(const ConfinedBrowserProfile&) = delete;

    std::unique_ptr<QWebEnginePage> MakePage() const;
    // A view in `parent` that owns its page.
    QWebEngineView* MakeView(QWidget* parent) const;
    // From now on the pages load files inside `folder` (the shown document's own) and the waiting page.
    void ConfineTo(const std::filesystem::path& folder);
    QWebEngineProfile& Profile() const { return *profile; }

private:
    std::unique_ptr<DocumentFolderInterceptor> interceptor;
    std::unique_ptr<QWebEngineProfile> profile;
};
