#include "notify/fMail_Bot.h"

#include "assets/Assets.h"
#include "notify/Control.h"
#include "notify/Forms.h"
#include "platform/JapaneseFont.h"
#include "notify/Layout.h"
#include "platform/ScreenMetrics.h"
#include "notify/SetRgn.h"
#include "controller/mM_CHKER.h"

namespace notify {

fMail_Bot::fMail_Bot(Forms& forms) : NotifyForm(forms, FormId::fMail_Bot, 2340, 645, false)
{
    image3_ = AddPicture(QStringLiteral("Image3"), 1560, 120, 390, 375, Assets::ScrollButton);
    image1_ = AddPicture(QStringLiteral("Image1"), 180, 120, 1350, 375, Assets::StripFooter);
    lblDate_ = AddCaption(QStringLiteral("lblDate"), 240, 210, 1275, 195, JapaneseUiFont(9.75), Qt::white,
                          Qt::AlignHCenter | Qt::AlignTop);
    lblDate_->setOverflow(Overflow::Shrink); // the count is the point of the strip
    image3_->setCursor(Qt::PointingHandCursor);
    connect(image3_, &Control::clicked, this, &fMail_Bot::Image3_Click);
}

void fMail_Bot::Form_Load()
{
    unloadTimerSec_ = ReadDisplaySeconds();
    SetRgn::ShapeWindow(*this);
    const auto corner = layout::FooterCorner(ScreenMetrics::ScreenWidthTwips(), ScreenMetrics::ScreenHeightTwips());
    PlaceAt(corner.left, corner.top);
    lblDate_->setCaption(layout::FooterCaption(mM_CHKER::ExtraCount));
    SetRgn::MakeTopmost(*this);
}

void fMail_Bot::Image3_Click() { ScrollCards(); }

void fMail_Bot::ScrollCards()
{
    mM_CHKER::SetCloseTimeFromNow(unloadTimerSec_);
    const layout::ScrollStep step = layout::NextScroll(mM_CHKER::ExtraCount, mM_CHKER::PageOffset);
    CloseCards();
    mM_CHKER::PageOffset = step.pageOffset;
    lblDate_->setCaption(step.caption);
    mM_CHKER::StackTop = layout::StackTopTwips(ScreenMetrics::ScreenHeightTwips() - layout::kFullStackHeaderDistance);
    for (int k = 1; k <= 5; ++k) forms().Show(CardForm(k));
}

void fMail_Bot::CloseCards()
{
    for (int k = 1; k <= 5; ++k) forms().Unload(CardForm(k));
}

} // namespace notify
