#include "controller/TrayWarningIcon.h"

#include <QPainter>
#include <QPainterPath>

QPixmap WithWarningMark(const QPixmap& base)
{
    QPixmap out = base.isNull() ? QPixmap(32, 32) : base;
    if (base.isNull()) out.fill(Qt::transparent);
    const QRectF r(out.width() * 0.45, out.height() * 0.45, out.width() * 0.55, out.height() * 0.55);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath triangle;
    triangle.moveTo(r.center().x(), r.top());
    triangle.lineTo(r.right(), r.bottom());
    triangle.lineTo(r.left(), r.bottom());
    triangle.closeSubpath();
    p.setPen(QPen(QColor(60, 40, 0), qMax(1.0, out.width() / 32.0)));
    p.setBrush(QColor(255, 200, 0));
    p.drawPath(triangle);
    // The exclamation mark: a bar and a dot.
    const qreal w = r.width() * 0.14;
    const qreal x = r.center().x() - w / 2;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 20, 0));
    p.drawRect(QRectF(x, r.top() + r.height() * 0.35, w, r.height() * 0.33));
    p.drawRect(QRectF(x, r.top() + r.height() * 0.76, w, r.height() * 0.12));
    return out;
}

QIcon TrayWarningIcon(const QIcon& normal)
{
    QIcon icon(QStringLiteral(":/assets/tray_icon_warning.png"));
    if (!icon.isNull() && !icon.availableSizes().isEmpty()) return icon;
    return QIcon(WithWarningMark(normal.pixmap(32, 32)));
}
