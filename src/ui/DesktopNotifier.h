#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <optional>

#include "app/IDesktopNotifier.h"

#include "ui/NoticeBalloon.h"

// Notifications through the desktop's notification service (org.freedesktop.Notifications on the
// session bus). Where no service answers, the tray icon's own message is shown, and without a tray
// icon either a small balloon of the program's own at the corner of the screen. None of them takes
// the keyboard focus, and nothing waits for the service. GUI thread.
class DesktopNotifier : public QObject, public IDesktopNotifier {
    Q_OBJECT

public:
    static constexpr const char* kService = "org.freedesktop.Notifications";
    static constexpr const char* kPath = "/org/freedesktop/Notifications";
    // The icon's name in the desktop's icon theme, and the menu entry that names the program.
    static constexpr const char* kIconName = "qopra2";
    static constexpr const char* kDesktopEntry = "qopra2";
    static constexpr int kBalloonMilliseconds = 10000;

    // Shows `title` and `text` at the tray icon; false when there is no tray icon to show it at.
    using TrayMessage = std::function<bool(const QString& title, const QString& text, Urgency urgency)>;

    explicit DesktopNotifier(QObject* parent = nullptr);
    ~DesktopNotifier() override;

    void SetTrayMessage(TrayMessage message) { trayMessage = std::move(message); }
    void Notify(Urgency urgency, const std::string& title, const std::string& text) override;

    // The balloon of the program's own while it is shown (null otherwise).
    NoticeBalloon* Balloon() const { return balloon.data(); }

signals:
    // A notification went out: "service", "tray" or "balloon".
    void shown(const QString& way, const QString& title, const QString& text);

private:
    bool ServiceAnswers();
    void ShowWithoutService(Urgency urgency, const QString& title, const QString& text);

    TrayMessage trayMessage;
    QPointer<NoticeBalloon> balloon;
    // Whether the service shows markup in the body (then the text is escaped), asked once.
    std::optional<bool> bodyMarkup;
};
