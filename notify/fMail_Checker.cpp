#include "notify/fMail_Checker.h"

#include "assets/Assets.h"
#include "notify/Control.h"
#include "notify/Forms.h"
#include "notify/Layout.h"
#include "platform/ScreenMetrics.h"
#include "notify/SetRgn.h"
#include "controller/mM_CHKER.h"

namespace notify {

fMail_Checker::fMail_Checker(Forms& forms) : NotifyForm(forms, FormId::fMail_Checker, 1725, 1920, true)
{
    image1_ = AddPicture(QStringLiteral("Image1"), 480, 870, 570, 720, Assets::PostBox);
    image2_ = AddPicture(QStringLiteral("Image2"), 720, 1590, 105, 270, Assets::Post);
    image3_ = AddPicture(QStringLiteral("Image3"), 510, 1860, 540, 30, Assets::BaseLine);
    image1_->setCursor(Qt::PointingHandCursor);
    connect(image1_, &Control::clicked, this, &fMail_Checker::Image1_Click);
}

void fMail_Checker::Form_Load()
{
    unloadTimerSec_ = ReadDisplaySeconds();
    SetRgn::ShapeWindow(*this);
    const auto corner = layout::NotifierCorner(ScreenMetrics::ScreenWidthTwips(), ScreenMetrics::ScreenHeightTwips());
    PlaceAt(corner.left, corner.top);
    SetRgn::MakeTopmost(*this);
}

void fMail_Checker::Image1_Click()
{
    if (forms().IsVisible(FormId::fMail_Top)) {
        CloseStack();
        forms().Unload(FormId::fMail_Checker);
        return;
    }
    mM_CHKER::SetCloseTimeFromNow(unloadTimerSec_);
    ShowStack();
    SetRgn::SetActiveWindow(*this);
}

void fMail_Checker::CloseStack()
{
    for (int k = 1; k <= 5; ++k) forms().Unload(CardForm(k));
    forms().Unload(FormId::fMail_Top);
    forms().Unload(FormId::fMail_Bot);
}

void fMail_Checker::ShowStack()
{
    CloseStack();
    const layout::StackLayout stack = layout::StackLayoutFor(mM_CHKER::MailCount);
    mM_CHKER::StackTop = layout::StackTopTwips(ScreenMetrics::ScreenHeightTwips() - stack.headerDistance);
    for (FormId form : stack.windows) forms().Show(form);
}

} // namespace notify
