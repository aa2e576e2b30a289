#include "notify/NotifyForm.h"

#include "notify/Control.h"
#include "platform/ScreenMetrics.h"
#include "notify/SetRgn.h"
#include "settings/mReadINI.h"

namespace notify {

NotifyForm::NotifyForm(Forms& forms, FormId id, double clientWidthTwips, double clientHeightTwips, bool takesFocus)
    : QWidget(nullptr), forms_(forms), id_(id)
{
    SetRgn::ApplyNotifyWindowFlags(*this, takesFocus ? SetRgn::Activation::OnRequest : SetRgn::Activation::Never);
    setFixedSize(ScreenMetrics::TwipsToPixelsX(clientWidthTwips), ScreenMetrics::TwipsToPixelsY(clientHeightTwips));
}

Control* NotifyForm::AddControl(const QString& name, double left, double top, double width, double height)
{
    return new Control(this, name, ScreenMetrics::TwipsToPixels(left, top, width, height));
}

Control* NotifyForm::AddPicture(const QString& name, double left, double top, double width, double height,
                                const QString& resource)
{
    Control* c = AddControl(name, left, top, width, height);
    c->setPicture(resource);
    return c;
}

Control* NotifyForm::AddCaption(const QString& name, double left, double top, double width, double height,
                                const QFont& font, const QColor& color, Qt::Alignment alignment)
{
    Control* c = AddControl(name, left, top, width, height);
    c->setFont(font);
    c->setTextColor(color);
    c->setAlignment(alignment);
    return c;
}

qint16 NotifyForm::ReadDisplaySeconds() { return mReadINI::ReadDisplaySeconds(); }

void NotifyForm::PlaceAt(double leftTwips, double topTwips)
{
    move(ScreenMetrics::ScreenPointFromTwips(leftTwips, topTwips));
}

double NotifyForm::OuterWidthTwips() const { return frameGeometry().width() * ScreenMetrics::TwipsPerPixelX(); }

double NotifyForm::OuterHeightTwips() const { return frameGeometry().height() * ScreenMetrics::TwipsPerPixelY(); }

} // namespace notify
