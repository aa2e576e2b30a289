#include "notify/fMail_Body.h"

#include "assets/Assets.h"
#include "notify/Control.h"
#include "notify/Forms.h"
#include "platform/JapaneseFont.h"
#include "notify/Layout.h"
#include "platform/ScreenMetrics.h"
#include "notify/SetRgn.h"
#include "controller/mM_CHKER.h"

#include <QPlainTextEdit>

namespace notify {

fMail_Body::fMail_Body(Forms& forms) : NotifyForm(forms, FormId::fMail_Body, 4695, 4635, true)
{
    // The panel first, so that everything else lies on top of it.
    image1_ = AddPicture(QStringLiteral("Image1"), -30, -30, 4950, 4665, Assets::WoodPanel);
    const QFont line = JapaneseUiFont(9.75);
    label1_ = AddCaption(QStringLiteral("Label1"), 180, 180, 4215, 255, JapaneseUiFont(11.25, true),
                         layout::ColorFromBgr(0x80FF80));
    lblDate_ = AddCaption(QStringLiteral("lblDate"), 240, 480, 1965, 225, line, layout::ColorFromBgr(0x80C0FF));
    lblFrom_ = AddCaption(QStringLiteral("lblFrom"), 240, 720, 4275, 225, line, layout::ColorFromBgr(0x00FFFF));
    lblTitle_ = AddCaption(QStringLiteral("lblTitle"), 240, 960, 4245, 225, line, layout::ColorFromBgr(0x00FF00));

    text1_ = new QPlainTextEdit(this);
    text1_->setObjectName(QStringLiteral("Text1"));
    text1_->setGeometry(ScreenMetrics::TwipsToPixels(210, 1260, 4275, 2925));
    text1_->setFont(JapaneseUiFont(9));
    text1_->setReadOnly(true);
    text1_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text1_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    text1_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    const QColor olive = layout::ColorFromBgr(0x00C0C0);
    const QFont button = JapaneseUiFont(9);
    label2_[0] = AddCaption(QStringLiteral("Label2_0"), 3150, 4290, 1335, 255, button, olive, Qt::AlignCenter);
    label2_[0]->setCaption(QStringLiteral("閉じる"));
    label2_[0]->setCursor(Qt::PointingHandCursor);
    label2_[1] = AddCaption(QStringLiteral("Label2_1"), 1680, 4290, 1335, 255, button, olive, Qt::AlignCenter);
    label2_[1]->setCaption(QStringLiteral("削除"));
    label2_[1]->setEnabled(false); // no function: shown greyed
    connect(label2_[0], &Control::clicked, this, [this] { Label2_Click(0); });
    connect(label2_[1], &Control::clicked, this, [this] { Label2_Click(1); });
}

void fMail_Body::Form_Load()
{
    unloadTimerSec_ = ReadDisplaySeconds();
    SetRgn::ShapeWindow(*this);
    const auto corner = layout::BodyCorner(ScreenMetrics::ScreenWidthTwips(), ScreenMetrics::ScreenHeightTwips(),
                                           OuterWidthTwips(), OuterHeightTwips());
    PlaceAt(corner.left, corner.top);
    SetRgn::MakeTopmost(*this);
    // Asking for the notifier loads it (hidden) if needed, so that showing it later while this
    // window is open still finds it disabled.
    forms().Load(FormId::fMail_Checker).setEnabled(false);
}

void fMail_Body::Form_Unload()
{
    // Only a loaded notifier is enabled again: unloading must not bring a closed one back.
    if (NotifyForm* notifier = forms().Loaded(FormId::fMail_Checker)) notifier->setEnabled(true);
    // Before the auto-close timer works again, which would otherwise judge the time set by the
    // card click, long past after a long read.
    mM_CHKER::SetCloseTimeFromNow(unloadTimerSec_);
}

void fMail_Body::Label2_Click(int index)
{
    if (index == 0) CloseDetailWindow();
}

void fMail_Body::CloseDetailWindow() { forms().Unload(FormId::fMail_Body); }

} // namespace notify
