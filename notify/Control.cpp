#include "notify/Control.h"

#include "assets/Assets.h"

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
    picture_ = Assets::Picture(resource, devicePixelRatioF());
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

void Control::setOverflow(Overflow overflow)
{
    overflow_ = overflow;
    update();
}

CaptionFit Control::fitted() const { return FitCaption(caption_, font(), width(), overflow_, this); }

QFont Control::shownFont() const { return fitted().font; }

QString Control::shownCaption() const { return fitted().text; }

void Control::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (!picture_.isNull()) p.drawPixmap(rect(), picture_);
    if (caption_.isEmpty()) return;
    const CaptionFit shown = fitted();
    p.setFont(shown.font);
    const int flags = int(alignment_) | Qt::TextSingleLine;
    if (isEnabled()) {
        p.setPen(textColor_);
    } else {
        // Greyed: an engraved look that still reads on the wood.
        p.setPen(QColor(0, 0, 0, 110));
        p.drawText(rect().translated(1, 1), flags, shown.text);
        p.setPen(QColor(150, 150, 150));
    }
    p.drawText(rect(), flags, shown.text);
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
