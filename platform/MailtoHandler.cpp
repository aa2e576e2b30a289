#include "platform/MailtoHandler.h"

#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#include <gio/gdesktopappinfo.h>
#pragma pop_macro("signals")

namespace MailtoHandler {

QString Find()
{
    GAppInfo* app = g_app_info_get_default_for_uri_scheme("mailto");
    if (!app) return {};
    const char* id = g_app_info_get_id(app);
    QString result = id ? QString::fromUtf8(id) : QString();
    g_object_unref(app);
    return result;
}

bool Launch(const QString& id, QString* error)
{
    if (id.isEmpty()) {
        if (error) *error = QStringLiteral("no mail program is registered for mailto links");
        return false;
    }
    GDesktopAppInfo* app = g_desktop_app_info_new(id.toUtf8().constData());
    if (!app) {
        if (error) *error = QStringLiteral("the mail program %1 is no longer installed").arg(id);
        return false;
    }
    GError* err = nullptr;
    const gboolean ok = g_app_info_launch(G_APP_INFO(app), nullptr, nullptr, &err);
    if (!ok && error) *error = QString::fromUtf8(err ? err->message : "launch failed");
    if (err) g_error_free(err);
    g_object_unref(app);
    return ok;
}

} // namespace MailtoHandler
