#include "archive/gui/CBrowserDlg.h"

#include <QMarginsF>
#include <QMetaObject>
#include <QMimeDatabase>
#include <QPageLayout>
#include <QPageSize>
#include <QPointer>
#include <QWebEngineDownloadRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <algorithm>
#include <array>
#include <filesystem>
#include <utility>

#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "archive/TextDocumentPage.h"
#include "archive/gui/ConfinedBrowserProfile.h"
#include "platform/Unicode.h"
#include "print/Spooler.h"
#include "protocol/Copies.h"
#include "ui/MainWindowFlags.h"

namespace {

constexpr const char* kPdfMarker = ".PDF";
constexpr qreal kPageMarginMillimetres = 10.0;
// What the browser shows (and so prints); anything else it would only offer as a download.
constexpr std::array<const char*, 12> kShownTypes = {"text/html",    "application/xhtml+xml",
                                                     "text/plain",   "application/xml",
                                                     "image/png",    "image/jpeg",
                                                     "image/gif",    "image/webp",
                                                     "image/bmp",    "image/svg+xml",
                                                     "image/x-icon", "application/pdf"};

QString ToQString(const std::string& text) {
    return QString::fromStdString(text);
}

// The engine reports file locations in its own spelling; compare the files they name.
bool SameLocation(const QUrl& left, const QUrl& right) {
    if (left.isLocalFile() || right.isLocalFile()) {
        return left.isLocalFile() && right.isLocalFile() && left.toLocalFile() == right.toLocalFile();
    }
    return left == right;
}

QUrl WaitingPageUrl() {
    if (DataFolder::Path().empty()) {
        return QUrl(QStringLiteral("about:blank"));
    }
    return QUrl::fromLocalFile(ToQString(DataFolder::WaitingPage().string()));
}

QPageLayout PrintLayout() {
    const QMarginsF margins(kPageMarginMillimetres, kPageMarginMillimetres, kPageMarginMillimetres,
                            kPageMarginMillimetres);
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, margins, QPageLayout::Millimeter);
}

std::string UnsupportedType(const std::string& documentName) {
    return documentName + " is of a type that cannot be printed here";
}

bool BrowserCanShow(const std::filesystem::path& file) {
    // Only a regular file's content is looked at; anything else the browser finds out about itself.
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) {
        return true;
    }
    const QMimeType type = QMimeDatabase().mimeTypeForFile(ToQString(file.string()));
    return std::any_of(kShownTypes.begin(), kShownTypes.end(),
                       [&](const char* shown) { return type.inherits(QLatin1String(shown)); });
}

// Text the browser would show as it stands (by its name, or by a type that it shows only as plain
// text): it prints through a page of its own instead, in its own encoding and a text printout's looks.
bool IsPlainText(const std::filesystem::path& file, const std::string& nameUpper) {
    if (nameUpper.ends_with(".TXT")) {
        return true;
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) {
        return false;
    }
    const QMimeType type = QMimeDatabase().mimeTypeForFile(ToQString(file.string()));
    return type.inherits(QStringLiteral("text/plain")) &&
           std::none_of(kShownTypes.begin(), kShownTypes.end(), [&](const char* shown) {
               return std::string_view(shown) != "text/plain" && type.inherits(QLatin1String(shown));
           });
}

} // namespace

CBrowserDlg::CBrowserDlg(QObject* parent, std::chrono::milliseconds printTimeLimit)
    : QObject(parent),
      // A profile of its own: its renderers are never shared with another window's pages.
      browser(std::make_unique<ConfinedBrowserProfile>()) {
    connect(&browser->Profile(), &QWebEngineProfile::downloadRequested, this,
            &CBrowserDlg::OnDownloadRequested);
    timeLimit.setSingleShot(true);
    timeLimit.setInterval(printTimeLimit);
    connect(&timeLimit, &QTimer::timeout, this, &CBrowserDlg::OnTimeLimit);
    MakePage();
}

CBrowserDlg::~CBrowserDlg() {
    if (submitterCancelled) {
        *submitterCancelled = true;
    }
    FinishSubmitter();
    // Whoever waits for a record that is never printed hears so now.
    if (outcome) {
        outcome->Report(false, {});
    }
    for (const std::unique_ptr<PrintJobRecord>& record : waiting) {
        if (record->outcome) {
            record->outcome->Report(false, {});
        }
    }
    // The browser goes first, while every member still exists: a render that reports back while it
    // is taken down finds nothing pending. The profile outlives its page.
    waiting.clear();
    phase = Phase::Idle;
    disconnect(page.get(), nullptr, this, nullptr);
    page.reset();
    disconnect(&browser->Profile(), nullptr, this, nullptr);
    browser.reset();
}

void CBrowserDlg::MakePage() {
    if (page) {
        // The old page goes with its renderer, however busy that is.
        disconnect(page.get(), nullptr, this, nullptr);
        page.reset();
    }
    page = browser->MakePage();
    connect(page.get(), &QWebEnginePage::loadingChanged, this, &CBrowserDlg::OnLoadingChanged);
}

void CBrowserDlg::SetPrintTimeLimit(std::chrono::milliseconds limit) {
    timeLimit.setInterval(limit);
}

void CBrowserDlg::PrintDocument(std::unique_ptr<PrintJobRecord> record) {
    if (!record) {
        return;
    }
    waiting.push_back(std::move(record));
    if (phase == Phase::Idle) {
        StartNext();
    }
}

void CBrowserDlg::StartNext() {
    while (!waiting.empty()) {
        const std::unique_ptr<PrintJobRecord> record = std::move(waiting.front());
        waiting.pop_front();

        ++serial;
        copies = Copies::Bound(record->copies);
        if (copies != record->copies) {
            EventLog::Write("[WARNING] %d copies asked of %s, printing %d", record->copies,
                            record->documentName.c_str(), copies);
        }
        documentName = record->documentName;
        documentNameUpper = AsciiUpper(record->documentName);
        jobPrinterName = record->printerName;
        workingFolder = record->workingFolder;
        outcome = record->outcome;
        const std::filesystem::path file = std::filesystem::path(workingFolder) / documentName;
        if (documentNameUpper.find(kPdfMarker) == std::string::npos && !BrowserCanShow(file)) {
            EventLog::Write("%s cannot be printed: the browser cannot show a document of its type",
                            documentName.c_str());
            unsupportedType = true;
            Conclude(false, {}, UnsupportedType(documentName));
            continue;
        }
        phase = Phase::LoadingDocument;
        // Opened by its real name; upper-casing only serves the PDF test.
        documentUrl = QUrl::fromLocalFile(ToQString(file.string()));
        textPage = IsPlainText(file, documentNameUpper) ? TextDocumentPage::Write(workingFolder, documentName)
                                                        : nullptr;
        if (textPage) {
            documentUrl = QUrl::fromLocalFile(ToQString(textPage->Path().string()));
            // The page goes once the record is done with, so none is left in a kept folder or on a drive.
            connect(
                this, &CBrowserDlg::documentDone, this, [this] { textPage.reset(); },
                Qt::SingleShotConnection);
        }
        browser->ConfineTo(workingFolder);
        timeLimit.start();
        page->load(documentUrl);
        return;
    }
    emit idle();
}

void CBrowserDlg::OnLoadingChanged(const QWebEngineLoadingInfo& info) {
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
        return;
    }
    if (phase == Phase::LeavingPdf && SameLocation(info.url(), leavingUrl)) {
        Finish(false, {});
        return;
    }
    if (phase != Phase::LoadingDocument || !SameLocation(info.url(), documentUrl)) {
        return;
    }
    if (documentNameUpper.find(kPdfMarker) != std::string::npos) {
        // PDF documents are not printed here; the waiting page replaces the viewer. The record ends
        // once that page is in, so that the next document's load never races this one.
        phase = Phase::LeavingPdf;
        leavingUrl = WaitingPageUrl();
        if (!(MainWindowFlags::shown && MainWindowFlags::previewIsPdf)) {
            emit waitingPageRequested();
        }
        page->load(leavingUrl);
        return;
    }
    if (info.status() != QWebEngineLoadingInfo::LoadSucceededStatus) {
        EventLog::Write("PrintFileOnBrowser error.");
        Finish(false, {}, documentName + " could not be loaded");
        return;
    }
    phase = Phase::Rendering;
    QPointer<CBrowserDlg> self(this);
    const std::uint64_t renderSerial = serial;
    page->printToPdf(
        [self, renderSerial](const QByteArray& pdf) {
            if (self) {
                self->OnPdfRendered(renderSerial, pdf);
            }
        },
        PrintLayout());
}

void CBrowserDlg::OnDownloadRequested(QWebEngineDownloadRequest* download) {
    // Nothing is ever saved from a document.
    download->cancel();
    if (phase == Phase::LoadingDocument && SameLocation(download->url(), documentUrl)) {
        EventLog::Write("%s cannot be printed: the browser cannot show a document of its type",
                        documentName.c_str());
        unsupportedType = true;
        Finish(false, {}, UnsupportedType(documentName));
    }
}

void CBrowserDlg::OnPdfRendered(std::uint64_t renderSerial, const QByteArray& pdf) {
    if (phase != Phase::Rendering || renderSerial != serial) {
        return;
    }
    if (pdf.isEmpty()) {
        EventLog::Write("PrintFileOnBrowser error.");
        Finish(false, {}, documentName + " could not be rendered");
        return;
    }
    // Loading and rendering were bounded; the spooler takes its own time for the copies.
    timeLimit.stop();
    phase = Phase::Submitting;
    FinishSubmitter();
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    submitterCancelled = cancelled;
    // The worker ends before this object does (the destructor joins it), so it may post to it.
    // One job with all the copies: the spooler makes them, and the document is spooled once.
    submitter = std::thread([this, renderSerial, cancelled,
                             document = std::string(pdf.constData(), pdf.size()), printer = jobPrinterName,
                             name = documentName, count = copies] {
        std::vector<int> jobIds;
        if (!*cancelled) {
            Spooler spooler;
            if (const int jobId = spooler.SubmitPdf(printer, document, name, count); jobId > 0) {
                jobIds.push_back(jobId);
            }
        }
        QMetaObject::invokeMethod(
            this, [this, renderSerial, jobIds] { OnSubmitted(renderSerial, jobIds); }, Qt::QueuedConnection);
    });
}

void CBrowserDlg::OnSubmitted(std::uint64_t renderSerial, const std::vector<int>& jobIds) {
    FinishSubmitter();
    if (phase != Phase::Submitting || renderSerial != serial) {
        return;
    }
    const bool printed = !jobIds.empty();
    if (!printed) {
        EventLog::Write("PrintFileOnBrowser error.");
    }
    Finish(printed, jobIds, printed ? std::string() : "the spooler refused " + documentName);
}

void CBrowserDlg::FinishSubmitter() {
    if (submitter.joinable()) {
        submitter.join();
    }
}

void CBrowserDlg::OnTimeLimit() {
    if (phase == Phase::Idle || phase == Phase::Submitting) {
        return;
    }
    // A waiting page that is slow to appear is no failure of the print.
    if (phase != Phase::LeavingPdf) {
        EventLog::Write("PrintFileOnBrowser error.");
    }
    // A page that did not finish in time may have a renderer that never will: the next document
    // gets a new one.
    MakePage();
    Finish(false, {}, documentName + " did not load in time");
}

void CBrowserDlg::Conclude(bool printed, const std::vector<int>& jobIds, const std::string& reason) {
    timeLimit.stop();
    ++serial;
    if (outcome) {
        outcome->Report(printed, jobIds, reason, unsupportedType);
        outcome.reset();
    }
    // A record handed over by a receiver of the signal waits its turn.
    phase = Phase::Concluding;
    emit documentDone(printed, static_cast<int>(jobIds.size()));
    phase = Phase::Idle;
    unsupportedType = false;
}

void CBrowserDlg::Finish(bool printed, const std::vector<int>& jobIds, const std::string& reason) {
    Conclude(printed, jobIds, reason);
    StartNext();
}
