#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>

class CSettingsDlg;
class CSystemTray;
class Housekeeping;
class IMessageBox;
class IPrintDialog;
class KeySequenceWatcher;
class MainWindowController;
class QLabel;
class QPrinter;
class QPushButton;
class QWebEngineView;
struct PrintJobRecord;
struct StartupFlags;

// The main window: a view of the document last printed (or chosen), with Print and zoom, behind the
// tray icon. It is shown only from the tray (OPEN) and for a pen-drive preview, never by an ordinary
// show request. It owns the tray icon and the other windows, and turns the controller's signals and
// the tray's commands into what the person sees.
class CQopraDlg : public QWidget {
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
        StartupFlags& startupFlags;
    };

    explicit CQopraDlg(Parts parts, QWidget* parent = nullptr);
    ~CQopraDlg() override;

    // The start of the desktop program, in its order: settings, windows, texts, network service,
    // placement, tray icon, history, timers.
    void Initialise();

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
    CSettingsDlg& SettingsWindow() const { return *settingsWindow; }
    // A command of the buttons or the tray menu, by the tray's command numbers.
    void Command(int command);

    void setVisible(bool visible) override;

signals:
    // The person asked to end the program (tray CLOSE).
    void endRequested();
    // Print during a pen-drive preview: the pen-drive window prints its ticked documents.
    void penDrivePrintRequested();
    // Back to the pen-drive list (Esc during its preview), and the tray's pen-drive entry.
    void penDriveWindowRequested();
    void traceWindowRequested();
    void historyWindowRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildLayout();
    void SetTexts();
    void ConnectController();
    void ConnectTray();
    void Navigate(const QString& location);
    void ShowWaitingPage(bool refresh);
    void ApplyZoom(int value);
    void Print();
    void OnLoadFinished(bool completed);
    // Timer 1: the start is over, the window is hidden and OPEN becomes the tray's default entry.
    void EndStart();

    Parts parts;
    QWidget* viewArea = nullptr;
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
    std::unique_ptr<CSettingsDlg> settingsWindow;
    std::unique_ptr<QPrinter> printer;
    QTimer startTimer;
    QTimer autoStartTimer;
    std::string penDriveDocument;
    bool penDrivePreview = false;
    bool showAllowed = false;
    int zoom = 100;
};
