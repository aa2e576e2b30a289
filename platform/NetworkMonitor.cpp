#include "platform/NetworkMonitor.h"

#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

namespace {

void onNetworkChanged(GNetworkMonitor*, gboolean available, gpointer self)
{
    Q_EMIT static_cast<NetworkMonitor*>(self)->Changed(available != FALSE);
}

} // namespace

NetworkMonitor::NetworkMonitor(QObject* parent) : QObject(parent)
{
    GNetworkMonitor* monitor = g_network_monitor_get_default();
    monitor_ = monitor;
    if (monitor) handler_ = g_signal_connect(monitor, "network-changed", G_CALLBACK(onNetworkChanged), this);
}

NetworkMonitor::~NetworkMonitor()
{
    if (monitor_ && handler_) g_signal_handler_disconnect(monitor_, handler_);
}

bool NetworkMonitor::Available() const
{
    // Without a monitor, nothing says the network is gone.
    return !monitor_ || g_network_monitor_get_network_available(static_cast<GNetworkMonitor*>(monitor_)) != FALSE;
}
