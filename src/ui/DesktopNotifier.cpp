#include "ui/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

#include "ui/NoticeBalloon.h"

namespace {

constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr const char* kAppName = "Qopra";
// The service's own choice of how long a notification stays.
constexpr int kServiceTimeout = -1;
// Asking the service what it can do must not hold up the windows.
constexpr int kCapabilitiesTimeoutMs = 1000;

unsigned char UrgencyLevel(IDesktopNotifier::Urgency urgency) {
    switch (urgency) {
    case IDesktopNotifier::Urgency::Low:
        return 0;
    case IDesktopNotifier::Urgency::Normal:
        return 1;
    case IDesktopNotifier::Urgency::Critical:
        return 2;
    }
    return 1;
}

} // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent) {}

DesktopNotifier::~DesktopNotifier() {
    if (balloon) {
        delete balloon.data();
    }
}

bool DesktopNotifier::ServiceAnswers() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr) {
        return false;
    }
    if (!bus.interface()->isServiceRegistered(kService).value()) {
        // A service the bus starts on the first call counts too.
        const QDBusReply<QStringList> activatable = bus.interface()->call("ListActivatableNames");
        if (!activatable.isValid() || !activatable.value().contains(kService)) {
            return false;
        }
    }
    if (!bodyMarkup) {
        const QDBusMessage ask =
            QDBusMessage::createMethodCall(kService, kPath, kInterface, "GetCapabilities");
        const QDBusReply<QStringList> capabilities = bus.call(ask, QDBus::Block, kCapabilitiesTimeoutMs);
        bodyMarkup = capabilities.isValid() && capabilities.value().contains("body-markup");
    }
    return true;
}

void DesktopNotifier::Notify(Urgency urgency, const std::string& title, const std::string& text) {
    const QString summary = QString::fromStdString(title);
    const QString body = QString::fromStdString(text);
    if (!ServiceAnswers()) {
        ShowWithoutService(urgency, summary, body);
        return;
    }
    QVariantMap hints;
    hints.insert("urgency", QVariant::fromValue(UrgencyLevel(urgency)));
    hints.insert("desktop-entry", QString(kDesktopEntry));
    if (urgency == Urgency::Low) {
        // A quiet message: not kept in the desktop's list once it has gone.
        hints.insert("transient", true);
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
    // Names of documents come from devices: where the service reads markup they are shown as written.
    call << QString(kAppName) << 0u << QString(kIconName) << summary
         << (bodyMarkup.value_or(false) ? body.toHtmlEscaped() : body) << QStringList() << hints
         << kServiceTimeout;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, urgency, summary, body] {
        watcher->deleteLater();
        if (watcher->isError()) {
            // The service went away meanwhile: the message is not lost.
            bodyMarkup.reset();
            ShowWithoutService(urgency, summary, body);
        } else {
            emit shown("service", summary, body);
        }
    });
}

void DesktopNotifier::ShowWithoutService(Urgency urgency, const QString& title, const QString& text) {
    if (trayMessage && trayMessage(title, text, urgency)) {
        emit shown("tray", title, text);
        return;
    }
    if (balloon) {
        balloon->close();
    }
    balloon = new NoticeBalloon(title, text, kBalloonMilliseconds);
    balloon->Pop();
    emit shown("balloon", title, text);
}
