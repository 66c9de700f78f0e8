#include "archive/gui/CBrowserDlg.h"

#include <QDir>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPointer>
#include <QTemporaryFile>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <algorithm>
#include <filesystem>
#include <utility>

#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "platform/Unicode.h"
#include "print/DefaultPrinter.h"
#include "print/Spooler.h"
#include "ui/MainWindowFlags.h"

namespace {

constexpr const char* kPdfMarker = ".PDF";
constexpr const char* kTempPdfTemplate = "qopra-print-XXXXXX.pdf";
constexpr qreal kPageMarginMillimetres = 10.0;
// Each copy is a job of its own, as the devices expect one job per copy.
constexpr int kCopiesPerJob = 1;

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

} // namespace

CBrowserDlg::CBrowserDlg(std::string printer, QObject* parent, std::chrono::milliseconds printTimeLimit)
    : QObject(parent), printerName(std::move(printer)), page(std::make_unique<QWebEnginePage>()) {
    // Without plugins a PDF turns into a download instead of being shown.
    page->settings()->setAttribute(QWebEngineSettings::PluginsEnabled, true);
    page->settings()->setAttribute(QWebEngineSettings::PdfViewerEnabled, true);
    timeLimit.setSingleShot(true);
    timeLimit.setInterval(printTimeLimit);
    connect(&timeLimit, &QTimer::timeout, this, &CBrowserDlg::OnTimeLimit);
    connect(page.get(), &QWebEnginePage::loadingChanged, this, &CBrowserDlg::OnLoadingChanged);
}

CBrowserDlg::~CBrowserDlg() {
    // Every record came with a switch of the default printer; one that is never printed still owes
    // its restore, so ending in the middle of a print does not leave the default switched.
    const std::size_t outstanding = waiting.size() + (phase != Phase::Idle ? 1 : 0);
    // The browser goes first, while every member still exists: a render that reports back while it
    // is taken down finds nothing pending.
    waiting.clear();
    phase = Phase::Idle;
    disconnect(page.get(), nullptr, this, nullptr);
    page.reset();
    for (std::size_t i = 0; i < outstanding; ++i) {
        DefaultPrinter::RestoreDefaultPrinter();
    }
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
    if (waiting.empty()) {
        emit idle();
        return;
    }
    const std::unique_ptr<PrintJobRecord> record = std::move(waiting.front());
    waiting.pop_front();

    phase = Phase::LoadingDocument;
    ++serial;
    copies = std::min(record->copies, copiesLimit);
    if (copies < record->copies) {
        EventLog::Write("[WARNING] %d copies asked of %s, printing %d", record->copies,
                        record->documentName.c_str(), copies);
    }
    documentName = record->documentName;
    documentNameUpper = AsciiUpper(record->documentName);
    jobPrinterName = record->printerName;
    workingFolder = record->workingFolder;
    // Opened by its real name; upper-casing only serves the PDF test.
    documentUrl =
        QUrl::fromLocalFile(ToQString((std::filesystem::path(workingFolder) / documentName).string()));
    timeLimit.start();
    page->load(documentUrl);
}

void CBrowserDlg::OnLoadingChanged(const QWebEngineLoadingInfo& info) {
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
        return;
    }
    if (phase == Phase::LeavingPdf && SameLocation(info.url(), leavingUrl)) {
        Finish(false, 0);
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
        Finish(false, 0);
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

void CBrowserDlg::OnPdfRendered(std::uint64_t renderSerial, const QByteArray& pdf) {
    if (phase != Phase::Rendering || renderSerial != serial) {
        return;
    }
    if (pdf.isEmpty()) {
        EventLog::Write("PrintFileOnBrowser error.");
        Finish(false, 0);
        return;
    }
    const int submitted = SubmitCopies(pdf);
    const bool printed = submitted == std::max(copies, 0);
    if (!printed) {
        EventLog::Write("PrintFileOnBrowser error.");
    }
    Finish(printed, submitted);
}

int CBrowserDlg::SubmitCopies(const QByteArray& pdf) {
    if (copies <= 0) {
        return 0;
    }
    // The spooler takes a copy of the file with each submission, so it can go right after.
    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/") + QLatin1String(kTempPdfTemplate));
    if (!file.open() || file.write(pdf) != pdf.size() || !file.flush()) {
        return 0;
    }
    const std::filesystem::path path = file.fileName().toStdString();
    int submitted = 0;
    for (std::int32_t copy = 0; copy < copies; ++copy) {
        // A printer that refused one copy refuses the others too.
        if (Spooler::SubmitFile(jobPrinterName, path, documentName, kCopiesPerJob) <= 0) {
            break;
        }
        ++submitted;
    }
    return submitted;
}

void CBrowserDlg::OnTimeLimit() {
    if (phase == Phase::Idle) {
        return;
    }
    // A waiting page that is slow to appear is no failure of the print.
    if (phase != Phase::LeavingPdf) {
        EventLog::Write("PrintFileOnBrowser error.");
    }
    // Stopping reports on the load at once; that report must not finish this record a second time.
    phase = Phase::Idle;
    page->triggerAction(QWebEnginePage::Stop);
    Finish(false, 0);
}

void CBrowserDlg::Finish(bool printed, int submittedJobs) {
    timeLimit.stop();
    phase = Phase::Idle;
    ++serial;
    DefaultPrinter::RestoreDefaultPrinter();
    emit documentDone(printed, submittedJobs);
    StartNext();
}
