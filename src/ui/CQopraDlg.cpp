#include "ui/CQopraDlg.h"

#include <QFileInfo>

#include "print/DocumentNames.h"
#include "ui/PicturePrinting.h"
#include "ui/ServiceStateView.h"

#include <QSplitter>

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPrinter>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineView>
#include <algorithm>
#include <filesystem>

#include "app/CCommandLine.h"
#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "app/gui/CTraceDlg.h"
#include "app/gui/TraceWindowSink.h"
#include "archive/gui/CHistoryDlg.h"
#include "archive/gui/ConfinedBrowserProfile.h"
#include "config/AppSettings.h"
#include "config/gui/CSettingsDlg.h"
#include "config/gui/LocalizedText.h"
#include "platform/Unicode.h"
#include "print/PrintJobRecord.h"
#include "removable/DocumentFolders.h"
#include "removable/VolumeMonitor.h"
#include "removable/gui/DlgUSBPrints.h"
#include "ui/CSystemTray.h"
#include "ui/IPrintDialog.h"
#include "ui/KeySequenceWatcher.h"
#include "ui/MainWindowController.h"
#include "ui/MainWindowFlags.h"
#include "ui/Mnemonics.h"
#include "ui/ProgramIcons.h"

namespace {

constexpr unsigned kTitleText = 150;
constexpr unsigned kConnectText = 144;
constexpr unsigned kHistoryText = 145;
constexpr unsigned kSettingsText = 149;
constexpr unsigned kPrintText = 142;
constexpr unsigned kTrayTooltipText = 154;
constexpr int kDefaultWidth = 666;
constexpr int kDefaultHeight = 440;

bool NamesPdf(const std::string& location) {
    return AsciiUpper(location).find(".PDF") != std::string::npos;
}

QString Text(unsigned id, const char* english) {
    return LocalizedText(id, AppSettings::Instance().language, english);
}

} // namespace

CQopraDlg::CQopraDlg(Parts parts, QWidget* parent)
    : QWidget(parent), parts(parts), tray(std::make_unique<CSystemTray>()),
      keySequence(std::make_unique<KeySequenceWatcher>()), placement(*this, "QopraMain") {
    setWindowIcon(ProgramIcons::Application());
    BuildLayout();
    tray->SetLanguageSource([] { return AppSettings::Instance().language; });
    tray->SetPenDriveSource([] { return DocumentFolders::removableDrivePresent.load(); });
    startTimer.setSingleShot(true);
    startTimer.setInterval(1);
    connect(&startTimer, &QTimer::timeout, this, &CQopraDlg::EndStart);
    autoStartTimer.setSingleShot(true);
    autoStartTimer.setInterval(10);
    connect(&autoStartTimer, &QTimer::timeout, this, [this] { settingsWindow->RefreshAndShow(); });
    qApp->installEventFilter(keySequence.get());
    // Esc hides the window from anywhere in it, the document view included, which keeps the keys it
    // is given for itself.
    qApp->installEventFilter(this);
    connect(keySequence.get(), &KeySequenceWatcher::sequenceTyped, this, [this] { traceButton->show(); });
}

CQopraDlg::~CQopraDlg() {
    Shutdown();
    delete view;
    view = nullptr;
    qApp->removeEventFilter(keySequence.get());
    qApp->removeEventFilter(this);
    tray->DeleteTrayIcon();
}

QWebEngineView& CQopraDlg::View() {
    // Made when there is first something to show: until then the browser engine and its processes
    // (some 80 MB) are not started at all.
    if (view == nullptr) {
        // The view shows documents that came from the network or a drive: confined like the print page.
        browser = std::make_unique<ConfinedBrowserProfile>();
        view = browser->MakeView(viewArea);
        view->setAccessibleName(Text(kTitleText, "Wi-Fi print service"));
        connect(view, &QWebEngineView::loadFinished, this, &CQopraDlg::OnLoadFinished);
        viewArea->layout()->addWidget(view);
        viewArea->show();
        // The document takes most of the window, the state of the service the rest.
        const int width = panes->width();
        panes->setSizes({width - width / 3, width / 3});
        view->setZoomFactor(zoom / 100.0);
    }
    return *view;
}

void CQopraDlg::BuildLayout() {
    viewArea = new QWidget(this);
    auto* viewLayout = new QVBoxLayout(viewArea);
    viewLayout->setContentsMargins(0, 0, 0, 0);

    const auto button = [this](const char* name, const char* text) {
        auto* made = new QPushButton(QString::fromUtf8(text), this);
        made->setObjectName(QString::fromUtf8(name));
        made->setAutoDefault(false);
        return made;
    };
    traceButton = button("trace", "Trace");
    exitButton = button("exit", "Exit");
    connectButton = button("connect", "Connect");
    historyButton = button("history", "History");
    settingsButton = button("settings", "Settings");
    printButton = button("print", "Print");
    zoomInButton = button("zoomIn", "Zoom +");
    zoomOutButton = button("zoomOut", "Zoom -");
    versionLabel = new QLabel(this);
    versionLabel->setObjectName("version");
    for (QPushButton* hidden : {traceButton, exitButton, connectButton, historyButton}) {
        hidden->hide();
    }
    for (QPushButton* waiting : {printButton, zoomInButton, zoomOutButton}) {
        waiting->setEnabled(false);
    }

    // The view grows with the window; the buttons and the label keep to the bottom edge.
    auto* buttons = new QHBoxLayout;
    for (QPushButton* each : {traceButton, exitButton, connectButton, historyButton, settingsButton,
                              printButton, zoomInButton, zoomOutButton}) {
        buttons->addWidget(each);
    }
    buttons->addStretch(1);
    buttons->addWidget(versionLabel);
    // The document on the left, the state of the service beside it: with no document yet, the state
    // is all there is to see.
    stateView = new ServiceStateView(this);
    panes = new QSplitter(Qt::Horizontal, this);
    panes->setObjectName("panes");
    panes->addWidget(viewArea);
    panes->addWidget(stateView);
    panes->setStretchFactor(0, 3);
    panes->setStretchFactor(1, 1);
    panes->setChildrenCollapsible(false);
    viewArea->hide();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panes, 1);
    layout->addLayout(buttons);
    resize(kDefaultWidth, kDefaultHeight);

    connect(traceButton, &QPushButton::clicked, this, [this] { ShowInFront(*traceWindow); });
    connect(exitButton, &QPushButton::clicked, this, [this] { Command(CSystemTray::kClose); });
    connect(connectButton, &QPushButton::clicked, this, [this] {
        if (parts.controller.StartNetwork()) {
            connectButton->hide();
        }
    });
    connect(historyButton, &QPushButton::clicked, this, [this] { Command(CSystemTray::kHistory); });
    connect(settingsButton, &QPushButton::clicked, this, [this] { Command(CSystemTray::kSettings); });
    connect(printButton, &QPushButton::clicked, this, &CQopraDlg::Print);
    connect(zoomInButton, &QPushButton::clicked, this, [this] { ApplyZoom(zoom + kZoomStep); });
    connect(zoomOutButton, &QPushButton::clicked, this, [this] { ApplyZoom(zoom - kZoomStep); });
}

void CQopraDlg::Initialise() {
    parts.controller.LoadSettings();
    // The windows come after the settings, whose interface language they speak.
    traceWindow = std::make_unique<CTraceDlg>();
    if (parts.traceSink != nullptr) {
        parts.traceSink->SetWindow(traceWindow.get());
    }
    settingsWindow = std::make_unique<CSettingsDlg>(AppSettings::Instance(), parts.housekeeping,
                                                    parts.startupFlags, parts.messages);
    connect(settingsWindow.get(), &CSettingsDlg::networkSettingsChanged, this,
            [this] { parts.controller.StartNetwork(); });
    connect(settingsWindow.get(), &QDialog::accepted, this, [this] { parts.controller.CheckPrinters(); });
    historyWindow =
        std::make_unique<CHistoryDlg>(AppSettings::Instance().language, parts.controller.Register());
    historyWindow->SetConfirmation(&parts.confirmation);
    // A preview asked for from the history is seen: the window comes up with the document.
    connect(historyWindow.get(), &CHistoryDlg::showDocumentRequested, this,
            [this](const PrintJobRecord& record) {
                Restore();
                ShowDocument(record);
            });
    SetTexts();
    ConnectController();
    ConnectTray();
    parts.controller.Start();
    placement.Restore();
    tray->ShowTrayIcon(Text(kTrayTooltipText, "Double click to activate"));
    tray->SetDefaultEntry(1, true);
    parts.controller.LoadHistory();
    startTimer.start();
    if (parts.startupFlags.autostartCheck) {
        autoStartTimer.start();
    }
    CreateDocumentsWindow();
}

void CQopraDlg::CreateDocumentsWindow() {
    IPrintDialog& drivePrintDialog =
        parts.drivePrintDialog != nullptr ? *parts.drivePrintDialog : parts.printDialog;
    documentsWindow = std::make_unique<DlgUSBPrints>(AppSettings::Instance().language,
                                                     DlgUSBPrints::Parts{drivePrintDialog, parts.messages,
                                                                         parts.confirmation,
                                                                         &parts.controller, parts.volumes});
    connect(documentsWindow.get(), &DlgUSBPrints::previewRequested, this,
            &CQopraDlg::PreviewPenDriveDocument);
    connect(this, &CQopraDlg::penDrivePrintRequested, documentsWindow.get(), &DlgUSBPrints::Print);
    connect(this, &CQopraDlg::penDriveWindowRequested, this, [this] { ShowInFront(*documentsWindow); });
    volumeMonitor = std::make_unique<VolumeMonitor>(parts.volumes, static_cast<IVolumeListener&>(*this));
    if (!volumeMonitor->Start()) {
        EventLog::Write("[WARNING] Pen drives are not watched: %s cannot be read",
                        parts.volumes.mountTable.c_str());
    }
}

void CQopraDlg::Shutdown() {
    if (volumeMonitor) {
        volumeMonitor->Stop();
    }
    // Its prints hand documents to the controller, which stops next.
    documentsWindow.reset();
}

void CQopraDlg::VolumeArrived(const std::filesystem::path& mountPoint) {
    QMetaObject::invokeMethod(
        this, [this, mountPoint] { OnVolumeArrived(mountPoint); }, Qt::QueuedConnection);
}

void CQopraDlg::VolumeRemoved(const std::filesystem::path& mountPoint) {
    QMetaObject::invokeMethod(
        this, [this, mountPoint] { OnVolumeRemoved(mountPoint); }, Qt::QueuedConnection);
}

void CQopraDlg::OnVolumeArrived(const std::filesystem::path& mountPoint) {
    EventLog::Write("WM_DEVICECHANGE --> Inserted, Drive: %s", mountPoint.c_str());
    if (!documentsWindow) {
        return;
    }
    if (!DocumentFolders::HasDocumentFolder(mountPoint)) {
        // The list keeps its ticks; only the tray's pen-drive entry learns of the drive.
        DocumentFolders(parts.volumes).ListRemovableDrives();
        return;
    }
    documentsWindow->RefreshDocumentList();
    ShowInFront(*documentsWindow);
    documentsWindow->setFocus();
}

void CQopraDlg::OnVolumeRemoved(const std::filesystem::path& mountPoint) {
    EventLog::Write("WM_DEVICECHANGE --> Removed, Drive: %s", mountPoint.c_str());
    if (documentsWindow) {
        // The drive took its documents along: an empty list has nothing left to offer.
        connect(
            documentsWindow.get(), &DlgUSBPrints::documentListFilled, this,
            [this] {
                if (documentsWindow->RowCount() == 0) {
                    documentsWindow->hide();
                }
            },
            Qt::SingleShotConnection);
        documentsWindow->RefreshDocumentList();
    }
}

void CQopraDlg::ShowInFront(QWidget& window) {
    window.show();
    window.raise();
    window.activateWindow();
}

void CQopraDlg::SetTexts() {
    setWindowTitle(Text(kTitleText, "Wi-Fi print service"));
    connectButton->setText(Text(kConnectText, "Connect"));
    historyButton->setText(Text(kHistoryText, "ARCHIVE"));
    settingsButton->setText(Text(kSettingsText, "Configure"));
    printButton->setText(Text(kPrintText, "Print"));
    versionLabel->setText(QStringLiteral("v. ") + QStringLiteral(QOPRA_VERSION));
    zoomInButton->setAccessibleName(QStringLiteral("Zoom in"));
    zoomOutButton->setAccessibleName(QStringLiteral("Zoom out"));
    AssignMnemonics({settingsButton, printButton, connectButton, historyButton, traceButton, exitButton});
    // Zoom keeps the view's own keys, as every viewer does.
    zoomInButton->setShortcut(QKeySequence::ZoomIn);
    zoomOutButton->setShortcut(QKeySequence::ZoomOut);
}

void CQopraDlg::ConnectController() {
    MainWindowController& controller = parts.controller;
    connect(&controller, &MainWindowController::networkStartFailed, connectButton, &QPushButton::show);
    connect(&controller, &MainWindowController::networkStarted, connectButton, &QPushButton::hide);
    connect(&controller, &MainWindowController::printJobReceived, this, [this] {
        penDriveDocument.clear();
        tray->StartIconAnimation();
    });
    connect(&controller, &MainWindowController::navigateRequested, this, &CQopraDlg::Navigate);
    connect(&controller, &MainWindowController::waitingPageRequested, this, &CQopraDlg::ShowWaitingPage);
    connect(&controller, &MainWindowController::historyEntryAdded, historyWindow.get(),
            &CHistoryDlg::AddHistoryEntry);
    connect(&controller, &MainWindowController::stateChanged, this,
            [this] { stateView->Show(parts.controller.State()); });
    // Every print shows in the tray, whatever road it took.
    connect(&controller, &MainWindowController::printReported, this, [this](const PrintReport& report) {
        if (report.result.IsPrinted()) {
            tray->StartIconAnimation();
        }
    });
    stateView->Show(controller.State());
}

void CQopraDlg::ConnectTray() {
    connect(tray.get(), &CSystemTray::commandChosen, this, &CQopraDlg::Command);
}

void CQopraDlg::Command(int command) {
    switch (command) {
    case CSystemTray::kOpen:
        Restore();
        break;
    case CSystemTray::kSettings:
        settingsWindow->RefreshAndShow();
        break;
    case CSystemTray::kHistory:
        ShowInFront(*historyWindow);
        break;
    case CSystemTray::kPenDriveDocuments:
        emit penDriveWindowRequested();
        break;
    case CSystemTray::kClose:
        emit endRequested();
        break;
    default:
        break;
    }
}

std::string CQopraDlg::CurrentDocument() const {
    return penDriveDocument.empty() ? parts.controller.CurrentDocument() : penDriveDocument;
}

void CQopraDlg::setVisible(bool visible) {
    // Only Restore and the pen-drive preview show the window.
    if (visible && !showAllowed) {
        return;
    }
    QWidget::setVisible(visible);
}

void CQopraDlg::Restore() {
    MainWindowFlags::shown = true;
    const std::string document = CurrentDocument();
    if (NamesPdf(document)) {
        Navigate(QString::fromStdString(document)); // the waiting page may have replaced it
    }
    showAllowed = true;
    showNormal();
    showAllowed = false;
    raise();
    activateWindow();
}

void CQopraDlg::HideToTray() {
    if (penDrivePreview) {
        emit penDriveWindowRequested();
    } else {
        MainWindowFlags::shown = false;
        if (NamesPdf(CurrentDocument())) {
            ShowWaitingPage(true); // lets the viewer go of the document
        }
    }
    penDrivePreview = false;
    hide();
    tray->SetDefaultEntry(CSystemTray::kOpen, false);
}

void CQopraDlg::ShowDocument(const PrintJobRecord& record) {
    Navigate(
        QString::fromStdString((std::filesystem::path(record.workingFolder) / record.documentName).string()));
}

void CQopraDlg::PreviewPenDriveDocument(const QString& path) {
    penDrivePreview = true;
    penDriveDocument = path.toStdString();
    MainWindowFlags::shown = true;
    Navigate(path);
    showAllowed = true;
    showNormal();
    showAllowed = false;
    raise();
    activateWindow();
}

void CQopraDlg::Navigate(const QString& location) {
    QWebEngineView& shown = View();
    browser->ConfineTo(std::filesystem::path(location.toStdString()).parent_path());
    shown.load(QUrl::fromLocalFile(location));
}

void CQopraDlg::ShowWaitingPage(bool refresh) {
    Navigate(QString::fromStdString(DataFolder::WaitingPage().string()));
    if (refresh) {
        View().reload();
    }
}

void CQopraDlg::ApplyZoom(int value) {
    // The view takes a quarter to five times the size; beyond that the value stays at the bound.
    zoom = std::clamp(value, kMinimumZoom, kMaximumZoom);
    if (view != nullptr) {
        view->setZoomFactor(zoom / 100.0);
    }
}

void CQopraDlg::OnLoadFinished(bool completed) {
    for (QPushButton* each : {printButton, zoomInButton, zoomOutButton}) {
        each->setEnabled(true);
    }
    if (completed) {
        ApplyZoom(100);
    }
}

void CQopraDlg::Print() {
    if (penDrivePreview) {
        penDrivePreview = false;
        hide();
        tray->SetDefaultEntry(CSystemTray::kOpen, false);
        emit penDrivePrintRequested();
        return;
    }
    if (view == nullptr || view->url().isEmpty() || printer) {
        return; // nothing shown, or the last print is still on its way
    }
    printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    const QString shown = view->url().isLocalFile() ? view->url().toLocalFile() : QString();
    // The job is named after the document, as the prints of devices are.
    printer->setDocName(QFileInfo(shown).fileName());
    if (!parts.printDialog.Ask(*printer, this)) {
        printer.reset();
        return;
    }
    // A picture prints as the picture: the view's own page would print it on a dark background.
    if (!shown.isEmpty() && DocumentNames::IsPicture(shown.toStdString())) {
        const bool printed = PicturePrinting::Print(*printer, shown);
        printer.reset();
        emit documentPrinted(printed);
        return;
    }
    connect(
        view, &QWebEngineView::printFinished, this,
        [this](bool printed) {
            printer.reset();
            emit documentPrinted(printed);
        },
        Qt::SingleShotConnection);
    view->print(printer.get());
}

void CQopraDlg::EndStart() {
    penDrivePreview = false;
    hide();
    tray->SetDefaultEntry(CSystemTray::kOpen, false);
    // Without a tray host nothing would lead to the window: it is shown once.
    if (!tray->IsVisible()) {
        Restore();
    }
}

void CQopraDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    HideToTray();
}

bool CQopraDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
        static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
        const auto* widget = qobject_cast<QWidget*>(watched);
        if (widget != nullptr && widget != this && widget->window() == this && isVisible()) {
            HideToTray();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CQopraDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
        HideToTray();
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        penDrivePreview = false;
        break;
    default:
        QWidget::keyPressEvent(event);
        break;
    }
}
