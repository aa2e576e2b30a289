#include "notify/fMail_Top.h"

#include "assets/Assets.h"
#include "notify/Control.h"
#include "platform/JapaneseFont.h"
#include "notify/Layout.h"
#include "platform/ScreenMetrics.h"
#include "notify/SetRgn.h"
#include "controller/mM_CHKER.h"

namespace notify {

fMail_Top::fMail_Top(Forms& forms) : NotifyForm(forms, FormId::fMail_Top, 2340, 615, false)
{
    image1_ = AddPicture(QStringLiteral("Image1"), 180, 120, 1950, 375, Assets::StripHeader);
    lblDate_ = AddCaption(QStringLiteral("lblDate"), 210, 210, 1905, 195, JapaneseUiFont(9.75), Qt::white,
                          Qt::AlignHCenter | Qt::AlignTop);
    lblDate_->setOverflow(Overflow::Shrink); // the count is the point of the strip
}

void fMail_Top::Form_Load()
{
    SetRgn::ShapeWindow(*this);
    const double top = mM_CHKER::StackTop ? double(*mM_CHKER::StackTop) : y() * ScreenMetrics::TwipsPerPixelY();
    PlaceAt(layout::StackLeft(ScreenMetrics::ScreenWidthTwips()), top);
    lblDate_->setCaption(layout::HeaderCaption(mM_CHKER::MailCount));
    SetRgn::MakeTopmost(*this);
}

} // namespace notify
