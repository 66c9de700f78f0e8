#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QMenu;

// The program's icon in the notification area: tooltip, pop-up menu, the arrival animation. It only
// reports what the user chose (`commandChosen`); the main window decides what that means. The icon
// comes back by itself when the tray host is restarted.
class CSystemTray : public QObject {
    Q_OBJECT

public:
    // The menu's commands.
    enum Command : int {
        kOpen = 32771,
        kClose = 32772,
        kSettings = 32773,
        kPenDriveDocuments = 32775,
        // Not in the menu of old: a Linux desktop user expects to reach the history from the tray.
        kHistory = 32776,
    };
    static constexpr int kTooltipLimit = 127;
    static constexpr int kMessageMilliseconds = 10000;
    static constexpr std::chrono::milliseconds kAnimationStep{100};
    static constexpr std::chrono::seconds kAnimationDuration{4};

    explicit CSystemTray(QObject* parent = nullptr);
    ~CSystemTray() override;

    // Puts the icon into the tray with `tooltip` (cut to kTooltipLimit characters); false when there is
    // no tray host right now (the icon then appears when one comes).
    bool ShowTrayIcon(const QString& tooltip);
    void DeleteTrayIcon();
    // The entry a double click chooses: by its position in the menu of old (0 OPEN, 1 SETTINGS, 2 pen
    // drive, 3 CLOSE) or by its command.
    void SetDefaultEntry(int item, bool byPosition);
    int DefaultCommand() const;
    void StartIconAnimation(std::chrono::milliseconds step = kAnimationStep,
                            std::chrono::seconds duration = kAnimationDuration);
    bool Animating() const { return animation.isActive(); }
    // Language of the menu texts and whether a removable drive was found, asked before each showing.
    void SetLanguageSource(std::function<std::uint16_t()> source) { language = std::move(source); }
    void SetPenDriveSource(std::function<bool()> source) { penDrivePresent = std::move(source); }

    bool IsVisible() const;
    // A message beside the icon (where the desktop has no notification service); false when the icon
    // is not docked or the tray host shows no messages.
    bool ShowMessage(const QString& title, const QString& text, bool warning);
    QMenu* Menu() const { return menu.get(); }
    // The icon shown now, its tooltip and where the tray host put it (empty while not docked).
    QIcon CurrentIcon() const;
    QString ToolTip() const { return icon.toolTip(); }
    QRect Geometry() const { return icon.geometry(); }
    // Sets the menu's texts and states as they are shown; called before each showing.
    void PrepareMenu();

signals:
    void commandChosen(int command);

private:
    void OnActivated(QSystemTrayIcon::ActivationReason reason);
    void NextAnimationFrame();
    void EndIconAnimation();
    QAction* AddEntry(Command command);

    std::unique_ptr<QMenu> menu;
    QSystemTrayIcon icon;
    std::vector<QAction*> entries;
    int defaultItem = 1;
    bool defaultByPosition = true;
    QIcon normalIcon;
    std::vector<QIcon> frames;
    std::size_t frame = 0;
    QTimer animation;
    QElapsedTimer animationClock;
    std::chrono::seconds animationDuration = kAnimationDuration;
    std::function<std::uint16_t()> language;
    std::function<bool()> penDrivePresent;
};
