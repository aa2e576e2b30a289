// A minimal StatusNotifierWatcher with a host, as KDE Plasma or GNOME's AppIndicator extension
// provide: it owns org.kde.StatusNotifierWatcher on the session bus and prints the service of
// every item that registers ("item SERVICE"), so that a test can inspect the item with gdbus.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <cstdio>

class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    QStringList items() const { return items_; }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message)
    {
        // Items register either with their bus name or with an object path on their connection.
        const QString name = service.startsWith(QLatin1Char('/')) ? message.service() : service;
        items_ << name;
        std::printf("item %s\n", qPrintable(name));
        std::fflush(stdout);
        Q_EMIT StatusNotifierItemRegistered(name);
    }
    void RegisterStatusNotifierHost(const QString&) {}

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    QStringList items_;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Watcher watcher;
    if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                QDBusConnection::ExportAllProperties) ||
        !bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"))) {
        std::fprintf(stderr, "sni_watcher: cannot own org.kde.StatusNotifierWatcher: %s\n",
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    std::printf("watcher ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

#include "sni_watcher.moc"
