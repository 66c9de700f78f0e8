// A stand-in for the desktop's notification service on a session bus of a test's own: it takes the
// service's name and writes one line per Notify call ("urgency<TAB>summary<TAB>body<TAB>icon") to
// the file given as its argument, so that tests and the screenshot script see what a person was told.
//   qopra-notification-recorder RECORD-FILE      (DBUS_SESSION_BUS_ADDRESS names the bus)
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>

class Recorder : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    explicit Recorder(QString file) : file(std::move(file)) {}

public slots:
    QStringList GetCapabilities() { return {"body"}; }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion) {
        vendor = "qopra-tests";
        version = "1";
        specVersion = "1.2";
        return "qopra-notification-recorder";
    }
    uint Notify(const QString&, uint, const QString& icon, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap& hints, int) {
        QFile record(file);
        if (record.open(QIODevice::Append)) {
            const QString urgency = QString::number(hints.value("urgency", 1).toInt());
            record.write(
                (urgency + '\t' + summary + '\t' + QString(body).replace('\n', ' ') + '\t' + icon + '\n')
                    .toUtf8());
        }
        return ++lastId;
    }
    void CloseNotification(uint) {}

private:
    QString file;
    uint lastId = 0;
};

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        std::fputs("usage: qopra-notification-recorder RECORD-FILE\n", stderr);
        return 2;
    }
    Recorder recorder(QString::fromLocal8Bit(argv[1]));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject("/org/freedesktop/Notifications", &recorder, QDBusConnection::ExportAllSlots) ||
        !bus.registerService("org.freedesktop.Notifications")) {
        std::fprintf(stderr, "qopra-notification-recorder: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

#include "NotificationRecorder.moc"
