#pragma once

#include "removable/IVolumeListener.h"
#include "removable/VolumeSources.h"
#include "ui/WindowPlacement.h"
#include <QString>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <memory>
#include <string>

class CHistoryDlg;
class ConfinedBrowserProfile;
class CSettingsDlg;
class CTraceDlg;
class DlgUSBPrints;
class TraceWindowSink;
class CSystemTray;
class Housekeeping;
class IConfirmBox;
class IMessageBox;
class IPrintDialog;
class KeySequenceWatcher;
class MainWindowController;
class QLabel;
class QPrinter;
class QPushButton;
class QWebEngineView;
class QSplitter;
class ServiceStateView;
class VolumeMonitor;
struct PrintJobRecord;
struct StartupFlags;

// The main window: a view of the document last printed (or chosen), with Print and zoom, behind the
// tray icon. It is shown only from the tray (OPEN) and for a pen-drive preview, never by an ordinary
// show request. It owns the tray icon and the other windows, and turns the controller's signals and
// the tray's commands into what the person sees. It hears of pen drives coming and going.
class CQopraDlg : public QWidget, private IVolumeListener {
    Q_OBJECT

public:
    static constexpr int kZoomStep = 10;
    // What the view accepts, in percent.
    static constexpr int kMinimumZoom = 25;
    static constexpr int kMaximumZoom = 500;

    // What the window needs from outside: the pieces of the program it works with, and the dialogs
    // that tests answer themselves.
    struct Parts {
        MainWindowController& controller;
        Housekeeping& housekeeping;
        IMessageBox& messages;
        IPrintDialog& printDialog;
        // The question before pen-drive documents are deleted.
        IConfirmBox& confirmation;
        StartupFlags& startupFlags;
        // Where the network's trace lines go; the window gives it the trace window. May be null.
        TraceWindowSink* traceSink = nullptr;
        // Where removable volumes are learnt from.
        VolumeSources volumes = {};
        // The print dialog of pen-drive documents (all pages, the description's copies, no file);
        // null: the one above.
        IPrintDialog* drivePrintDialog = nullptr;
    };

    explicit CQopraDlg(Parts parts, QWidget* parent = nullptr);
    ~CQopraDlg() override;

    // The start of the desktop program, in its order: settings, windows, texts, network service,
    // placement, tray icon, history, timers.
    void Initialise();
    // The end of the desktop program, before the network service stops: the pen-drive watch ends
    // and pen-drive prints still running are stopped. The windows stay until the object goes.
    void Shutdown();

    // Tray OPEN (and a second start of the program): shows the window in front.
    void Restore();
    // Esc and the close box: back behind the tray icon (or to the pen-drive list during its preview).
    void HideToTray();
    // A document kept in the history, shown in the view; the window's visibility does not change.
    void ShowDocument(const PrintJobRecord& record);
    // A document chosen in the pen-drive window: shown in the window, brought to the front.
    void PreviewPenDriveDocument(const QString& path);
    bool PenDrivePreview() const { return penDrivePreview; }
    // What the view stands for: the last record's document (the waiting page for a PDF), or the
    // pen-drive document previewed since.
    std::string CurrentDocument() const;

    int Zoom() const { return zoom; }
    QWebEngineView& View();
    CSystemTray& Tray() const { return *tray; }
    ServiceStateView& StateView() const { return *stateView; }
    CSettingsDlg& SettingsWindow() const { return *settingsWindow; }
    CTraceDlg& TraceWindow() const { return *traceWindow; }
    CHistoryDlg& HistoryWindow() const { return *historyWindow; }
    DlgUSBPrints& DocumentsWindow() const { return *documentsWindow; }
    // A command of the buttons or the tray menu, by the tray's command numbers.
    void Command(int command);

    void setVisible(bool visible) override;

signals:
    // Print in the window has printed the shown document, or failed to.
    void documentPrinted(bool printed);
    // The person asked to end the program (tray CLOSE).
    void endRequested();
    // Print during a pen-drive preview: the pen-drive window prints its ticked documents.
    void penDrivePrintRequested();
    // Back to the pen-drive list (Esc during its preview), and the tray's pen-drive entry.
    void penDriveWindowRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Called on the volume monitor's thread; handled on the GUI thread.
    void VolumeArrived(const std::filesystem::path& mountPoint) override;
    void VolumeRemoved(const std::filesystem::path& mountPoint) override;
    void OnVolumeArrived(const std::filesystem::path& mountPoint);
    void OnVolumeRemoved(const std::filesystem::path& mountPoint);
    void CreateDocumentsWindow();
    void BuildLayout();
    void SetTexts();
    void ConnectController();
    void ConnectTray();
    void ShowInFront(QWidget& window);
    void Navigate(const QString& location);
    void ShowWaitingPage(bool refresh);
    void ApplyZoom(int value);
    void Print();
    void OnLoadFinished(bool completed);
    // Timer 1: the start is over, the window is hidden and OPEN becomes the tray's default entry.
    void EndStart();

    Parts parts;
    QWidget* viewArea = nullptr;
    ServiceStateView* stateView = nullptr;
    QSplitter* panes = nullptr;
    // The view goes before its profile (the destructor sees to it).
    std::unique_ptr<ConfinedBrowserProfile> browser;
    QWebEngineView* view = nullptr;
    QPushButton* traceButton = nullptr;
    QPushButton* exitButton = nullptr;
    QPushButton* connectButton = nullptr;
    QPushButton* historyButton = nullptr;
    QPushButton* settingsButton = nullptr;
    QPushButton* printButton = nullptr;
    QPushButton* zoomInButton = nullptr;
    QPushButton* zoomOutButton = nullptr;
    QLabel* versionLabel = nullptr;
    std::unique_ptr<CSystemTray> tray;
    std::unique_ptr<KeySequenceWatcher> keySequence;
    std::unique_ptr<CTraceDlg> traceWindow;
    std::unique_ptr<CSettingsDlg> settingsWindow;
    std::unique_ptr<CHistoryDlg> historyWindow;
    std::unique_ptr<DlgUSBPrints> documentsWindow;
    // After the documents window, which its events reach: it ends first.
    std::unique_ptr<VolumeMonitor> volumeMonitor;
    WindowPlacement placement;
    std::unique_ptr<QPrinter> printer;
    QTimer startTimer;
    QTimer autoStartTimer;
    std::string penDriveDocument;
    bool penDrivePreview = false;
    bool showAllowed = false;
    int zoom = 100;
};
