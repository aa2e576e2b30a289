#include "app/NoDisplayExit.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <unistd.h>

namespace {

struct HeldMessage {
    QtMsgType type;
    QByteArray category, file, function;
    int line;
    QString text;
};

QtMessageHandler previousHandler = nullptr;
std::function<void()> exitHook;
QList<HeldMessage> held;

QString noDisplayLine()
{
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    const QString display = qEnvironmentVariable("DISPLAY");
    if (!platform.isEmpty() && !platform.startsWith(QLatin1String("xcb")) &&
        !platform.startsWith(QLatin1String("wayland")))
        return QStringLiteral(
                   "cannot start on the platform \"%1\" (QT_QPA_PLATFORM); Ferrowick needs a desktop session")
            .arg(platform);
    if (display.isEmpty() && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return QStringLiteral("no display (DISPLAY is not set); Ferrowick needs a desktop session");
    return QStringLiteral("cannot open the display \"%1\"; Ferrowick needs a desktop session").arg(display);
}

void holdOrExit(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtFatalMsg) {
        // The only fatal message while the application object is made: no platform plugin started.
        std::fprintf(stderr, "ferrowick: %s\n", noDisplayLine().toLocal8Bit().constData());
        if (exitHook) exitHook();
        std::fflush(nullptr);
        ::_exit(1);
    }
    held.append({type, context.category, context.file, context.function, context.line, text});
}

} // namespace

NoDisplayExit::NoDisplayExit(std::function<void()> beforeExit)
{
    exitHook = std::move(beforeExit);
    held.clear();
    previousHandler = qInstallMessageHandler(holdOrExit);
}

NoDisplayExit::~NoDisplayExit()
{
    qInstallMessageHandler(previousHandler);
    exitHook = nullptr;
    const auto text = [](const QByteArray& bytes) { return bytes.isNull() ? nullptr : bytes.constData(); };
    for (const HeldMessage& m : std::as_const(held)) {
        const QMessageLogContext context(text(m.file), m.line, text(m.function), text(m.category));
        qt_message_output(m.type, context, m.text);
    }
    held.clear();
}
