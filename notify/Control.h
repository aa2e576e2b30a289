#pragma once
#include "notify/CaptionFit.h"

#include <QColor>
#include <QPixmap>
#include <QString>
#include <QWidget>

namespace notify {

// A picture or a caption on a notification window, at a fixed design rectangle. Captions have a
// transparent background and never wrap: text that does not fit is cut with an ellipsis, or for
// numbers drawn smaller, so it cannot spill over the next line. A control emits clicked() for a
// press and release on it.
class Control final : public QWidget {
    Q_OBJECT
public:
    Control(QWidget* form, const QString& name, const QRect& pixels);

    void setPicture(const QString& resource);
    const QPixmap& picture() const { return picture_; }

    void setCaption(const QString& text);
    const QString& caption() const { return caption_; }
    void setTextColor(const QColor& color);
    const QColor& textColor() const { return textColor_; }
    void setAlignment(Qt::Alignment alignment);
    Qt::Alignment alignment() const { return alignment_; }
    void setOverflow(Overflow overflow);

    // The caption as it is drawn, in the font it is drawn with (see FitCaption); painting uses
    // exactly these two.
    QFont shownFont() const;
    QString shownCaption() const;

Q_SIGNALS:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    CaptionFit fitted() const;

    QPixmap picture_;
    QString caption_;
    QColor textColor_ = Qt::black;
    Qt::Alignment alignment_ = Qt::AlignLeft | Qt::AlignTop;
    Overflow overflow_ = Overflow::Elide;
    bool pressed_ = false;
};

} // namespace notify
