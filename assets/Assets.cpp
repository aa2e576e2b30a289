#include "assets/Assets.h"

namespace Assets {

QStringList All()
{
    return {PostBox,      Post, BaseLine,  StripHeader, StripFooter,
            ScrollButton, Card, WoodPanel, TrayIcon,    TrayIconWarning};
}

QString HighResolution(const QString& path)
{
    QString result = path;
    const qsizetype dot = result.lastIndexOf(QLatin1Char('.'));
    return result.insert(dot < 0 ? result.size() : dot, QStringLiteral("@2x"));
}

QPixmap Picture(const QString& path, qreal devicePixelRatio)
{
    if (devicePixelRatio > 1.0) {
        QPixmap sharp(HighResolution(path));
        if (!sharp.isNull()) {
            sharp.setDevicePixelRatio(2.0);
            return sharp;
        }
    }
    return QPixmap(path);
}

} // namespace Assets
