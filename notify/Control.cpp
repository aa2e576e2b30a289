#include "Control.h"

#include <QMouseEvent>
#include <QPainter>

namespace notify {

Control::Control(QWidget* form, const QString& name, const QRect& pixels) : QWidget(form)
{
    setObjectName(name);
    setGeometry(pixels);
}

void Control::setPicture(const QString& resource)
{
    picture_ = QPixmap(resource);
    update();
}

void Control::setCaption(const QString& text)
{
    caption_ = text;
    update();
}

void Control::setTextColor(const QColor& color)
{
    textColor_ = color;
    update();
}

void Control::setAlignment(Qt::Alignment alignment)
{
    alignment_ = alignment;
    update();
}

QFont Control::shownFont() const
{
    QFont f = font();
    if (QFontMetrics(f).horizontalAdvance(caption_) <= width()) return f;
    // The design widths were made for narrower glyphs than the fallback fonts have.
    for (int stretch : {96, 92, 88}) {
        f.setStretch(stretch);
        if (QFontMetrics(f).horizontalAdvance(caption_) <= width()) return f;
    }
    return font();
}

QString Control::shownCaption() const
{
    return QFontMetrics(shownFont()).elidedText(caption_, Qt::ElideRight, width());
}

void Control::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (!picture_.isNull()) p.drawPixmap(rect(), picture_);
    if (caption_.isEmpty()) return;
    p.setFont(shownFont());
    if (isEnabled()) {
        p.setPen(textColor_);
    } else {
        // Greyed: an engraved look that still reads on the wood.
        p.setPen(QColor(0, 0, 0, 110));
        p.drawText(rect().translated(1, 1), int(alignment_) | Qt::TextSingleLine, shownCaption());
        p.setPen(QColor(150, 150, 150));
    }
    p.drawText(rect(), int(alignment_) | Qt::TextSingleLine, shownCaption());
}

void Control::mousePressEvent(QMouseEvent* event)
{
    pressed_ = event->button() == Qt::LeftButton;
    event->accept();
}

void Control::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    event->accept();
    if (click) Q_EMIT clicked();
}

void Control::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange) update();
    QWidget::changeEvent(event);
}

} // namespace notify
