#pragma once
#include <QObject>

// The machine's network as the desktop's own library sees it (GIO's network monitor: the
// kernel's routes through netlink, or NetworkManager or the portal where they run). It works
// without NetworkManager, in a network namespace too. Its news arrive on the event loop of
// the thread that made it, which must run GLib's main context (Qt's does on Linux).
class NetworkMonitor final : public QObject {
    Q_OBJECT
public:
    explicit NetworkMonitor(QObject* parent = nullptr);
    ~NetworkMonitor() override;
    NetworkMonitor(const NetworkMonitor&) = delete;
    NetworkMonitor& operator=(const NetworkMonitor&) = delete;

    // True while there is a default route.
    bool Available() const;

Q_SIGNALS:
    // A route came, went or changed; `available` says whether a default route is there.
    void Changed(bool available);

private:
    void* monitor_ = nullptr; // GNetworkMonitor, not owned (GIO's own)
    unsigned long handler_ = 0;
};
