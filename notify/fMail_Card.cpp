#include "notify/fMail_Card.h"

#include "assets/Assets.h"
#include "notify/Control.h"
#include "notify/Forms.h"
#include "platform/JapaneseFont.h"
#include "notify/Layout.h"
#include "platform/ScreenMetrics.h"
#include "notify/SetRgn.h"
#include "platform/TextUtil.h"
#include "notify/fMail_Body.h"
#include "controller/mM_CHKER.h"

#include <QPlainTextEdit>

namespace notify {
namespace {

struct CardDesign {
    double clientWidth, clientHeight, dateWidth, titleWidth;
};
constexpr CardDesign kDesigns[5] = {
    {2400, 1080, 1665, 1695}, {2385, 1050, 1665, 1665}, {2355, 1035, 1695, 1665},
    {2340, 1035, 1695, 1665}, {2325, 1020, 1695, 1695},
};

const QColor kDateColour = layout::ColorFromBgr(0x80C0FF);
const QColor kFromColour = layout::ColorFromBgr(0x00FFFF);
const QColor kTitleColour = layout::ColorFromBgr(0x00FF00);

} // namespace

fMail_Card::fMail_Card(Forms& forms, int k)
    : NotifyForm(forms, CardForm(k), kDesigns[k - 1].clientWidth, kDesigns[k - 1].clientHeight, false), k_(k)
{
    const CardDesign& d = kDesigns[k - 1];
    const QFont small = JapaneseUiFont(8.25);
    image1_ = AddPicture(QStringLiteral("Image1"), 180, 120, 1950, 750, Assets::Card);
    lblAcount_ = AddCaption(QStringLiteral("lblAcount"), 420, 180, 1155, 165, small, layout::AccountColor(k));
    lblAcount_->setCaption(layout::CardDesignCaption(k));
    lblNo_ = AddCaption(QStringLiteral("lblNo"), 210, 180, 195, 165, JapaneseUiFont(9, true), Qt::white,
                        Qt::AlignHCenter | Qt::AlignTop);
    lblNo_->setOverflow(Overflow::Shrink); // slot numbers reach three digits
    lblDate_ = AddCaption(QStringLiteral("lblDate"), 420, 360, d.dateWidth, 165, small, kDateColour);
    lblFrom_ = AddCaption(QStringLiteral("lblFrom"), 420, 510, 1695, 165, small, kFromColour);
    lblTitle_ = AddCaption(QStringLiteral("lblTitle"), 420, 660, d.titleWidth, 165, small, kTitleColour);
    // The whole card is one button: every label click is a click on the picture.
    for (Control* c : {image1_, lblAcount_, lblNo_, lblDate_, lblFrom_, lblTitle_}) {
        c->setCursor(Qt::PointingHandCursor);
        connect(c, &Control::clicked, this, &fMail_Card::Image1_Click);
    }
}

qint64 fMail_Card::slot() const { return qint64(mM_CHKER::PageOffset) + k_; }

void fMail_Card::Form_Load()
{
    SetRgn::ShapeWindow(*this);
    const auto corner = layout::CardCorner(k_, ScreenMetrics::ScreenWidthTwips(), ScreenMetrics::ScreenHeightTwips());
    PlaceAt(corner.left, corner.top);
    for (Control* c : {lblDate_, lblFrom_, lblTitle_, lblNo_}) c->setCaption(QString());

    const qint64 s = slot();
    lblNo_->setCaption(QString::number(s));
    if (const int account = layout::AccountNumber(mM_CHKER::SlotText(mM_CHKER::MailAccount, s))) {
        lblAcount_->setCaption(QStringLiteral("【") + mM_CHKER::AccountName[std::size_t(account)] +
                               QStringLiteral("】"));
        lblAcount_->setTextColor(layout::AccountColor(account));
    }
    // SlotText is empty beyond the tables, so a card past slot 100 shows blank lines.
    lblDate_->setCaption(TextUtil::TrimSpaces(mM_CHKER::SlotText(mM_CHKER::MailTime, s)));
    lblFrom_->setCaption(TextUtil::LeftChars(TextUtil::TrimSpaces(mM_CHKER::SlotText(mM_CHKER::MailFrom, s)), 19));
    lblTitle_->setCaption(TextUtil::TrimSpaces(mM_CHKER::SlotText(mM_CHKER::MailSubject, s)));
    body_ = TextUtil::TrimSpaces(mM_CHKER::SlotText(mM_CHKER::MailBody, s));
    SetRgn::MakeTopmost(*this);
}

void fMail_Card::Image1_Click()
{
    auto& body = forms().Load<fMail_Body>(FormId::fMail_Body);
    if (body.isVisible()) return;

    // The display time is added, like the notifier and the footer do; closing the detail window
    // starts it anew.
    mM_CHKER::SetCloseTimeFromNow(ReadDisplaySeconds());

    forms().Show(FormId::fMail_Body);
    SetRgn::SetActiveWindow(body);

    body.Label1()->setCaption(lblAcount_->caption());
    body.Label1()->setTextColor(lblAcount_->textColor());
    body.lblDate()->setCaption(lblDate_->caption());
    body.lblFrom()->setCaption(lblFrom_->caption());
    body.lblTitle()->setCaption(lblTitle_->caption());
    body.Text1()->setPlainText(body_);
}

} // namespace notify
