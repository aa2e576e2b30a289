#include "settings/ui/fM_PALAM.h"

#include "assets/Assets.h"
#include "platform/JapaneseFont.h"
#include "platform/ScreenMetrics.h"
#include "settings/ui/ConnectionTestLink.h"
#include "settings/ui/DialogMessages.h"
#include "settings/ui/SettingsDialogLayout.h"
#include "settings/SettingsValidation.h"
#include "platform/TextUtil.h"
#include "settings/mReadINI.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGraphicsDropShadowEffect>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>

#include <algorithm>

namespace {

using namespace SettingsDialogLayout;

// The resident side reads the two numbers as signed 16-bit values; six characters take any of
// them ("-32768"). Larger values are refused when applying.
constexpr int kNumberBoxMaxLength = 6;

void setColor(QWidget* w, QPalette::ColorRole role, const QColor& color)
{
    QPalette p = w->palette();
    p.setColor(role, color);
    w->setPalette(p);
}

// The design sizes were made for a font with slightly narrower metrics; a caption is never cut.
void fitCaption(QWidget* w, const QString& caption)
{
    const QFontMetrics fm(w->font());
    const int width = std::max(w->width(), fm.horizontalAdvance(caption) + 2);
    const int height = std::max(w->height(), fm.height());
    w->resize(std::min(width, ScreenMetrics::TwipsToPixelsX(kClientWidth) - w->x()), height);
}

// A stored number is shown whole, however long its text, so that applying never writes back a
// value the user did not change.
void showNumber(QLineEdit* box, const QString& text)
{
    box->setMaxLength(std::max(kNumberBoxMaxLength, int(text.size())));
    box->setText(text);
}

QString withReason(const QString& what, const QString& reason)
{
    return reason.isEmpty() ? what : what + QStringLiteral("\n理由: ") + reason;
}

} // namespace

void fM_PALAM::ShowModal(QWidget* parent)
{
    // On the heap with a guard: the dialog must not be deleted twice if its parent goes first.
    QPointer<fM_PALAM> dialog = new fM_PALAM(parent);
    dialog->exec();
    delete dialog.data();
}

fM_PALAM::fM_PALAM(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QString());
    setFont(JapaneseUiFont(9));
    setFixedSize(ScreenMetrics::TwipsToPixelsX(kClientWidth), ScreenMetrics::TwipsToPixelsY(kClientHeight));
    background_ = Assets::Picture(Assets::WoodPanel, devicePixelRatioF());
    buildControls();
    Form_Load();
}

void fM_PALAM::buildControls()
{
    Combo1 = new QComboBox(this);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setEditable(false);
    Combo1->setGeometry(toPixels({150, 150, 1995, 300}));
    // Connected before the entries exist: adding the first one selects it, and ListReady
    // keeps that selection from refilling the boxes.
    connect(Combo1, &QComboBox::currentIndexChanged, this, [this] { Combo1_Click(); });
    for (const char16_t* entry : kAccounts) Combo1->addItem(QString::fromUtf16(entry));

    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(toPixels({1350, 630, 1305, 240}));
    setColor(Text1, QPalette::Text, kBoxText);

    for (int i = 0; i < 10; ++i) {
        const QString caption = QString::fromUtf16(kLabel1[i].caption);
        auto* label = new QLabel(caption, this);
        label->setObjectName(QStringLiteral("Label1_%1").arg(i));
        label->setGeometry(toPixels(kLabel1[i].at));
        setColor(label, QPalette::WindowText, i == 0 || i == 4 ? kHeading : i == 9 ? kNote : kCaption);
        fitCaption(label, caption);
        Label1[i] = label;
    }

    for (int i = 0; i < 5; ++i) {
        auto* box = new QLineEdit(this);
        box->setObjectName(QStringLiteral("popServer_%1").arg(i));
        box->setGeometry(toPixels(kPopServer[i]));
        setColor(box, QPalette::Text, kBoxText);
        if (i >= kInterval) box->setMaxLength(kNumberBoxMaxLength);
        box->installEventFilter(this);
        connect(box, &QLineEdit::returnPressed, this, [this, i] { popServer_KeyPress(i); });
        popServer[i] = box;
    }
    popServer[0]->setToolTip(QString::fromUtf16(kServerFormsTip));
    // A disabled box keeps its white ground; only its text turns grey.
    {
        QPalette p = popServer[kDisplayTime]->palette();
        p.setColor(QPalette::Disabled, QPalette::Base, p.color(QPalette::Active, QPalette::Base));
        popServer[kDisplayTime]->setPalette(p);
    }

    const QString checkCaption = QStringLiteral("一定時間表示したらメッセージを閉じる");
    Check1 = new QCheckBox(checkCaption, this);
    Check1->setObjectName(QStringLiteral("Check1"));
    Check1->setGeometry(toPixels({300, 3210, 3375, 285}));
    setColor(Check1, QPalette::WindowText, kCaption);
    Check1->resize(std::max(Check1->width(), Check1->sizeHint().width()), Check1->height());
    connect(Check1, &QCheckBox::toggled, this, [this] { Check1_Click(); });

    for (int i = 0; i < 3; ++i) {
        const QString caption = QString::fromUtf16(kLabel2[i].caption);
        auto* label = new ClickLabel(caption, this);
        label->setObjectName(QStringLiteral("Label2_%1").arg(i));
        label->setGeometry(toPixels(kLabel2[i].at));
        setColor(label, QPalette::WindowText, kLink);
        label->setCursor(Qt::PointingHandCursor);
        fitCaption(label, caption);
        connect(label, &ClickLabel::clicked, this, [this, i] { Label2_Click(i); });
        Label2[i] = label;
    }

    {
        const QString caption = QString::fromUtf16(kTestLabel.caption);
        TestLabel = new ClickLabel(caption, this);
        TestLabel->setObjectName(QStringLiteral("TestLabel"));
        TestLabel->setGeometry(toPixels(kTestLabel.at));
        setColor(TestLabel, QPalette::WindowText, kLink);
        TestLabel->setCursor(Qt::PointingHandCursor);
        fitCaption(TestLabel, caption);
        new ConnectionTestLink(
            TestLabel,
            [this] {
                return ConnectionTestLink::Typed{popServer[0]->text(), popServer[1]->text(), popServer[2]->text()};
            },
            this);
    }

    for (int i = 0; i < 4; ++i) {
        const auto& l = kLine1[i];
        Line1[i] = QLine(toPixels(l[0], l[1]), toPixels(l[2], l[3]));
    }

    QWidget::setTabOrder(popServer[0], popServer[1]);
    QWidget::setTabOrder(popServer[1], popServer[2]);
    QWidget::setTabOrder(popServer[2], popServer[3]);
    QWidget::setTabOrder(popServer[3], Check1);
    QWidget::setTabOrder(Check1, popServer[4]);
    QWidget::setTabOrder(popServer[4], Combo1);
    QWidget::setTabOrder(Combo1, Text1);
}

void fM_PALAM::Form_Load()
{
    Combo1->setCurrentIndex(0);
    CenterOnScreen(this);
    ListReady = true;
    for (QLineEdit* box : popServer) box->clear();
    Check1->setChecked(false);
    Check1_Click();

    Account& first = accounts_[0];
    mReadINI::ReadDialogSettings(first.server, first.user, first.password, first.displayName, intervalText_,
                                 displayText_, autoCloseText_);
    for (int k = 2; k <= 5; ++k) {
        Account& a = accounts_[k - 1];
        mReadINI::ReadAccountSettings(a.server, a.user, a.password, a.displayName, QString::number(k));
    }
}

void fM_PALAM::Form_Activate()
{
    const Account& first = accounts_[0];
    ShowAccount(first.server, first.user, first.password, first.displayName, intervalText_, displayText_,
                autoCloseText_);
    Text1->setFocus();
    ApplyDeleteLabelRule();
}

void fM_PALAM::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // The dialog is modal, so it becomes the active window once: when it is first shown.
    if (!activated_) {
        activated_ = true;
        Form_Activate();
    }
}

void fM_PALAM::Combo1_Click()
{
    if (!ListReady) return;
    const Account& a = accounts_[static_cast<size_t>(std::clamp(Combo1->currentIndex(), 0, 4))];
    ShowAccount(a.server, a.user, a.password, a.displayName, intervalText_, displayText_, autoCloseText_);
    ApplyDeleteLabelRule();
}

void fM_PALAM::Check1_Click()
{
    const bool on = Check1->isChecked();
    QLineEdit* box = popServer[kDisplayTime];
    box->setEnabled(on);
    QPalette p = box->palette();
    p.setColor(QPalette::Active, QPalette::Text, on ? kBoxText : kDimmed);
    p.setColor(QPalette::Inactive, QPalette::Text, on ? kBoxText : kDimmed);
    p.setColor(QPalette::Disabled, QPalette::Text, kDimmed);
    box->setPalette(p);
    setColor(Label1[7], QPalette::WindowText, on ? kCaption : kDimmed);
    // Dark grey alone vanishes into the wood grain; a light edge keeps it readable yet greyed.
    if (on) {
        Label1[7]->setGraphicsEffect(nullptr);
    } else if (!Label1[7]->graphicsEffect()) {
        auto* edge = new QGraphicsDropShadowEffect;
        edge->setBlurRadius(0);
        edge->setOffset(1, 1);
        edge->setColor(kDimmedEdge);
        Label1[7]->setGraphicsEffect(edge);
    }
}

void fM_PALAM::ShowAccount(const QString& server, const QString& user, const QString& password,
                           const QString& displayName, const QString& intervalText, const QString& displayText,
                           const QString& autoCloseText)
{
    using TextUtil::TrimSpaces;
    Text1->setText(TrimSpaces(displayName));
    popServer[0]->setText(TrimSpaces(server));
    popServer[1]->setText(TrimSpaces(user));
    popServer[2]->setText(TrimSpaces(password));
    showNumber(popServer[kInterval], TrimSpaces(intervalText));
    showNumber(popServer[kDisplayTime], TrimSpaces(displayText));
    // Only ever checks: a box the user ticked stays ticked across account switches.
    if (autoCloseText == QStringLiteral("1")) {
        Check1->setChecked(true);
        Check1_Click();
    }
}

void fM_PALAM::ApplyDeleteLabelRule()
{
    const bool any =
        !popServer[0]->text().isEmpty() || !popServer[1]->text().isEmpty() || !popServer[2]->text().isEmpty();
    Label2[2]->setVisible(any);
}

bool fM_PALAM::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        if (auto* box = qobject_cast<QLineEdit*>(watched)) box->selectAll();
    }
    return QDialog::eventFilter(watched, event);
}

void fM_PALAM::popServer_KeyPress(int index)
{
    switch (index) {
    case 0:
    case 1:
    case 2:
        popServer[index + 1]->setFocus();
        break;
    case kInterval:
        if (popServer[kDisplayTime]->isEnabled()) popServer[kDisplayTime]->setFocus();
        else Check1->setFocus();
        break;
    case kDisplayTime:
        ApplySettings();
        break;
    default:
        break;
    }
}

void fM_PALAM::keyPressEvent(QKeyEvent* event)
{
    // Enter outside the POP boxes does nothing, and Escape does not close the dialog.
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void fM_PALAM::Label2_Click(int index)
{
    switch (index) {
    case 0:
        ApplySettings();
        break;
    case 1:
        reject();
        break;
    case 2:
        DeleteAccount();
        break;
    default:
        break;
    }
}

QString fM_PALAM::selectedLabel() const { return QString::number(Combo1->currentIndex() + 1); }

void fM_PALAM::ApplySettings()
{
    using SettingsValidation::Verdict;
    const SettingsValidation::Result checked =
        SettingsValidation::Check({popServer[0]->text(), popServer[1]->text(), popServer[2]->text(),
                                   popServer[kInterval]->text(), popServer[kDisplayTime]->text(), Check1->isChecked()});
    if (checked.verdict != Verdict::Ok) {
        DialogMessages::Inform(this, DialogMessages::ProgramTitle(), SettingsValidation::Message(checked.verdict));
        switch (checked.verdict) {
        case Verdict::IntervalTooShort:
        case Verdict::IntervalTooLong:
            popServer[kInterval]->setFocus();
            break;
        case Verdict::DisplayTooShort:
        case Verdict::DisplayTooLong:
            // A disabled box cannot take the focus; it stays where it was.
            if (popServer[kDisplayTime]->isEnabled()) popServer[kDisplayTime]->setFocus();
            break;
        default:
            break; // a blank box: the focus is not moved
        }
        return;
    }
    // The capped display time stays in the box even if the user then declines.
    if (checked.display != popServer[kDisplayTime]->text()) showNumber(popServer[kDisplayTime], checked.display);

    if (!DialogMessages::Confirm(this, QStringLiteral("設定を変更しますか？"))) {
        Text1->setFocus();
        return;
    }

    QString error;
    const bool written = mReadINI::WriteSettings(popServer[0]->text(), popServer[1]->text(), popServer[2]->text(),
                                                 Text1->text(), popServer[kInterval]->text(),
                                                 Check1->isChecked() ? QStringLiteral("1") : QStringLiteral("0"),
                                                 popServer[kDisplayTime]->text(), selectedLabel(), &error);
    if (!written) {
        // The edits stay in the boxes so the user can retry once the cause is fixed.
        DialogMessages::Inform(this, DialogMessages::kTitle,
                               withReason(QStringLiteral("設定を保存できませんでした。"), error));
        return;
    }
    DialogMessages::Inform(this, DialogMessages::kTitle, QStringLiteral("変更内容は次回起動時から有効になります"));
    accept();
}

void fM_PALAM::DeleteAccount()
{
    const QString entry = Combo1->currentText();
    if (!DialogMessages::Confirm(this, entry + QStringLiteral("を削除しますか？"))) return;

    QString error;
    if (!mReadINI::ClearAccountSettings(selectedLabel(), &error)) {
        DialogMessages::Inform(this, DialogMessages::kTitle,
                               withReason(entry + QStringLiteral("の削除を保存できませんでした。"), error));
        return;
    }
    DialogMessages::Inform(this, DialogMessages::kTitle, entry + QStringLiteral("を削除しました"));
    accept();
}

void fM_PALAM::CenterOnScreen(QWidget* form)
{
    if (form->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)) return;
    const QSize size = form->frameGeometry().size();
    const double width = size.width() * ScreenMetrics::TwipsPerPixelX();
    const double height = size.height() * ScreenMetrics::TwipsPerPixelY();
    const double top = (ScreenMetrics::ScreenHeightTwips() - height) / 2.0;
    const double left = (ScreenMetrics::ScreenWidthTwips() - width) / 2.0;
    form->move(ScreenMetrics::ScreenPointFromTwips(left, top));
}

void fM_PALAM::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), kWoodFallback);
    if (!background_.isNull()) painter.drawPixmap(0, 0, background_);
    painter.setPen(QPen(Qt::white, 1));
    for (const QLine& line : Line1) painter.drawLine(line);
}
