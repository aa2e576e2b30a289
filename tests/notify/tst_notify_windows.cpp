// The notification windows on a 1280x1024 offscreen screen at 96 dpi.
#include "notify/Control.h"
#include "tests/notify/NotifyFixture.h"
#include "notify/SetRgn.h"
#include "notify/fMail_Body.h"
#include "notify/fMail_Bot.h"
#include "notify/fMail_Card.h"
#include "notify/fMail_Checker.h"
#include "notify/fMail_Top.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QScreen>

using namespace notify;
using notify_test::Fixture;
using notify_test::kDisplaySeconds;

namespace {

QRegion childUnion(const QWidget& w)
{
    QRegion r;
    for (const QWidget* c : w.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) r += c->geometry();
    return r;
}

QStringList cardNumbers(Forms& forms)
{
    QStringList numbers;
    for (int k = 1; k <= 5; ++k) {
        auto* card = forms.Loaded<fMail_Card>(CardForm(k));
        numbers << (card && card->isVisible() ? card->lblNo()->caption() : QStringLiteral("-"));
    }
    return numbers;
}

void click(Control* control) { QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(2, 2)); }

fMail_Checker& openNotifier(Forms& forms)
{
    forms.Show(FormId::fMail_Checker);
    return *forms.Loaded<fMail_Checker>(FormId::fMail_Checker);
}

} // namespace

class TestNotifyWindows : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void positions_data();
    void positions();
    void masks_data();
    void masks();
    void shapeWindowEdges();
    void stackCaptions_data();
    void stackCaptions();
    void scrolling_data();
    void scrolling();
    void postBoxTwice();
    void onlyThePostBoxAndButtonClick();
    void cardContents_data();
    void cardContents();
    void cardClickOpensDetail();
    void cardClickWhileDetailOpen();
    void cardOpensTheMailItShows();
    void closingDetailRestartsDisplayTime();
    void detailWindowDisablesNotifier();
    void unloadingWhatIsNotLoaded();
};

void TestNotifyWindows::initTestCase()
{
    notify_test::QuietOffscreenNotices();
    const QScreen* screen = QGuiApplication::primaryScreen();
    QCOMPARE(screen->geometry(), QRect(0, 0, 1280, 1024));
    QCOMPARE(screen->logicalDotsPerInchX(), 96.0);
}

void TestNotifyWindows::positions_data()
{
    QTest::addColumn<int>("mailCount");
    QTest::addColumn<FormId>("form");
    QTest::addColumn<QPoint>("corner");
    // Twips / 15 from the whole screen: W = 19200, H = 15360.
    QTest::newRow("notifier") << 1 << FormId::fMail_Checker << QPoint(1147, 837);
    QTest::newRow("header, no mail") << 0 << FormId::fMail_Top << QPoint(1033, 854);
    QTest::newRow("header, 3 mails") << 3 << FormId::fMail_Top << QPoint(1033, 710);
    QTest::newRow("header, 5 mails") << 5 << FormId::fMail_Top << QPoint(1033, 606);
    QTest::newRow("header, 12 mails") << 12 << FormId::fMail_Top << QPoint(1033, 606);
    QTest::newRow("card 1") << 12 << FormId::fMail_1 << QPoint(1033, 841);
    QTest::newRow("card 2") << 12 << FormId::fMail_2 << QPoint(1033, 789);
    QTest::newRow("card 3") << 12 << FormId::fMail_3 << QPoint(1033, 737);
    QTest::newRow("card 4") << 12 << FormId::fMail_4 << QPoint(1033, 685);
    QTest::newRow("card 5") << 12 << FormId::fMail_5 << QPoint(1033, 633);
    QTest::newRow("footer") << 12 << FormId::fMail_Bot << QPoint(1033, 893);
    QTest::newRow("detail") << 12 << FormId::fMail_Body << QPoint(960, 682);
}

void TestNotifyWindows::positions()
{
    QFETCH(int, mailCount);
    QFETCH(FormId, form);
    QFETCH(QPoint, corner);
    Fixture fx;
    fx.mails(mailCount);
    fMail_Checker& notifier = openNotifier(fx.forms());
    click(notifier.Image1());
    if (form == FormId::fMail_Body) click(fx.forms().Loaded<fMail_Card>(FormId::fMail_1)->Image1());
    QWidget* window = fx.forms().Loaded(form);
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QCOMPARE(window->pos(), corner);
    QCOMPARE(window->frameGeometry().topLeft(), corner);
}

void TestNotifyWindows::masks_data()
{
    QTest::addColumn<FormId>("form");
    QTest::addColumn<QRegion>("mask");
    QTest::newRow("notifier") << FormId::fMail_Checker
                              << (QRegion(32, 58, 38, 48) + QRegion(48, 106, 7, 18) + QRegion(34, 124, 36, 2));
    QTest::newRow("header") << FormId::fMail_Top << QRegion(12, 8, 130, 25);
    QTest::newRow("footer") << FormId::fMail_Bot << (QRegion(12, 8, 90, 25) + QRegion(104, 8, 26, 25));
    for (int k = 1; k <= 5; ++k) QTest::addRow("card %d", k) << CardForm(k) << QRegion(12, 8, 130, 50);
    QTest::newRow("detail") << FormId::fMail_Body << QRegion(-2, -2, 330, 311);
}

void TestNotifyWindows::masks()
{
    QFETCH(FormId, form);
    QFETCH(QRegion, mask);
    Fixture fx;
    QWidget& window = fx.forms().Load(form);
    QCOMPARE(window.mask(), childUnion(window));
    QCOMPARE(window.mask(), mask);
    const Qt::WindowFlags flags = window.windowFlags();
    QVERIFY(flags.testFlag(Qt::FramelessWindowHint));
    QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(flags.testFlag(Qt::Tool)); // keeps out of the task bar
    QVERIFY(window.testAttribute(Qt::WA_ShowWithoutActivating));
}

void TestNotifyWindows::shapeWindowEdges()
{
    QWidget bare;
    SetRgn::ShapeWindow(bare);
    QVERIFY(bare.mask().isEmpty()); // no controls: no mask, the whole window shows

    QWidget form;
    form.resize(200, 100);
    auto* shown = new QWidget(&form);
    shown->setGeometry(0, 0, 10, 10);
    auto* hidden = new QWidget(&form);
    hidden->setGeometry(50, 50, 20, 20);
    hidden->hide();
    SetRgn::ShapeWindow(form);
    QCOMPARE(form.mask(), QRegion(0, 0, 10, 10) + QRegion(50, 50, 20, 20));
}

void TestNotifyWindows::stackCaptions_data()
{
    QTest::addColumn<int>("mailCount");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("footer");
    QTest::addColumn<QStringList>("cards");
    QTest::addColumn<qint64>("stackTop");
    QTest::newRow("no mail") << 0 << QStringLiteral("新着メッセージ無し") << QString()
                             << QStringList{"-", "-", "-", "-", "-"} << qint64(12815);
    QTest::newRow("3 mails") << 3 << QStringLiteral("新着メール3件受信") << QString()
                             << QStringList{"1", "2", "3", "-", "-"} << qint64(10655);
    QTest::newRow("5 mails") << 5 << QStringLiteral("新着メール5件受信") << QString()
                             << QStringList{"1", "2", "3", "4", "5"} << qint64(9095);
    QTest::newRow("12 mails") << 12 << QStringLiteral("新着メール12件受信") << QStringLiteral("他7件受信")
                              << QStringList{"1", "2", "3", "4", "5"} << qint64(9095);
}

void TestNotifyWindows::stackCaptions()
{
    QFETCH(int, mailCount);
    QFETCH(QString, header);
    QFETCH(QString, footer);
    QFETCH(QStringList, cards);
    QFETCH(qint64, stackTop);
    Fixture fx;
    fx.mails(mailCount);
    click(openNotifier(fx.forms()).Image1());
    QCOMPARE(mM_CHKER::StackTop.value_or(-1), stackTop);
    QCOMPARE(fx.forms().Loaded<fMail_Top>(FormId::fMail_Top)->lblDate()->caption(), header);
    auto* bot = fx.forms().Loaded<fMail_Bot>(FormId::fMail_Bot);
    QCOMPARE(bot ? bot->lblDate()->caption() : QString(), footer);
    QCOMPARE(fx.forms().IsVisible(FormId::fMail_Bot), !footer.isEmpty());
    QCOMPARE(cardNumbers(fx.forms()), cards);
}

void TestNotifyWindows::scrolling_data()
{
    QTest::addColumn<int>("mailCount");
    QTest::addColumn<QStringList>("captions");     // after each click
    QTest::addColumn<QList<QStringList>>("cards"); // lblNo of cards 1..5 after each click
    QTest::newRow("one extra mail") << 6 << QStringList{"残メール無し", "他1件受信", "残メール無し"}
                                    << QList<QStringList>{{"2", "3", "4", "5", "6"},
                                                          {"1", "2", "3", "4", "5"},
                                                          {"2", "3", "4", "5", "6"}};
    QTest::newRow("three extra mails") << 8 << QStringList{"他2件受信", "他1件受信", "残メール無し", "他3件受信"}
                                       << QList<QStringList>{{"2", "3", "4", "5", "6"},
                                                             {"3", "4", "5", "6", "7"},
                                                             {"4", "5", "6", "7", "8"},
                                                             {"1", "2", "3", "4", "5"}};
}

void TestNotifyWindows::scrolling()
{
    QFETCH(int, mailCount);
    QFETCH(QStringList, captions);
    QFETCH(QList<QStringList>, cards);
    Fixture fx;
    fx.mails(mailCount);
    click(openNotifier(fx.forms()).Image1());
    auto* footer = fx.forms().Loaded<fMail_Bot>(FormId::fMail_Bot);
    QVERIFY(footer);
    QCOMPARE(footer->lblDate()->caption(), QStringLiteral("他%1件受信").arg(mailCount - 5));
    const QString header = fx.forms().Loaded<fMail_Top>(FormId::fMail_Top)->lblDate()->caption();

    for (int i = 0; i < captions.size(); ++i) {
        fx.clock.advance(7);
        click(footer->Image3());
        QCOMPARE(footer->lblDate()->caption(), captions[i]);
        QCOMPARE(cardNumbers(fx.forms()), cards[i]);
        const int first = cards[i][0].toInt();
        QCOMPARE(mM_CHKER::PageOffset, first - 1);
        // Card 1 shows the slot's mail, not just its number.
        QCOMPARE(fx.forms().Loaded<fMail_Card>(FormId::fMail_1)->lblTitle()->caption(), mM_CHKER::MailSubject[first]);
        QCOMPARE(mM_CHKER::CloseTime, fx.clock.now().addSecs(kDisplaySeconds)); // every scroll restarts it
        QCOMPARE(mM_CHKER::StackTop.value_or(-1), qint64(9095));
    }
    // The header is neither reloaded nor changed by scrolling.
    QCOMPARE(fx.forms().Loaded<fMail_Top>(FormId::fMail_Top)->lblDate()->caption(), header);
}

void TestNotifyWindows::postBoxTwice()
{
    Fixture fx;
    fx.mails(3);
    mM_CHKER::PageOffset = 0;
    // The name the controller read at start; the file has changed since.
    mM_CHKER::AccountName[1] = QStringLiteral("起動時の名前");
    fMail_Checker& notifier = openNotifier(fx.forms());
    QCOMPARE(notifier.UnloadTimerSec(), kDisplaySeconds);
    QCOMPARE(mM_CHKER::AccountName[1], QStringLiteral("起動時の名前")); // reading the display time changes nothing else

    click(notifier.Image1());
    QVERIFY(fx.forms().IsVisible(FormId::fMail_Top));
    QCOMPARE(mM_CHKER::CloseTime, fx.clock.now().addSecs(kDisplaySeconds));

    fx.clock.advance(5);
    click(notifier.Image1());
    for (FormId f : {FormId::fMail_Checker, FormId::fMail_Top, FormId::fMail_Bot, FormId::fMail_1, FormId::fMail_2,
                     FormId::fMail_3})
        QVERIFY2(!fx.forms().IsLoaded(f), qPrintable(QString::number(int(f))));
    QCOMPARE(mM_CHKER::CloseTime, fx.clock.now().addSecs(kDisplaySeconds - 5)); // the closing click left it

    // Shown again later, the notifier is a fresh window that opens the stack again.
    fMail_Checker& again = openNotifier(fx.forms());
    click(again.Image1());
    QVERIFY(fx.forms().IsVisible(FormId::fMail_Top));
}

void TestNotifyWindows::onlyThePostBoxAndButtonClick()
{
    Fixture fx;
    fx.mails(8);
    fMail_Checker& notifier = openNotifier(fx.forms());
    click(notifier.Image2());
    click(notifier.Image3());
    QVERIFY(!fx.forms().IsLoaded(FormId::fMail_Top));
    QVERIFY(!mM_CHKER::CloseTime.isValid());

    click(notifier.Image1());
    auto* footer = fx.forms().Loaded<fMail_Bot>(FormId::fMail_Bot);
    click(footer->Image1());
    click(footer->lblDate());
    QCOMPARE(mM_CHKER::PageOffset, 0);
    QCOMPARE(footer->lblDate()->caption(), QStringLiteral("他3件受信"));
}

void TestNotifyWindows::cardContents_data()
{
    QTest::addColumn<int>("pageOffset");
    QTest::addColumn<int>("k");
    QTest::addColumn<QString>("account"); // MailAccount of the slot
    QTest::addColumn<QString>("from");    // MailFrom of the slot
    QTest::addColumn<QString>("no");
    QTest::addColumn<QString>("accountCaption");
    QTest::addColumn<QColor>("accountColour");
    QTest::addColumn<QString>("fromCaption");
    QTest::addColumn<bool>("blankLines");

    QTest::newRow("account 2 on card 1") << 0 << 1 << "2"
                                         << "From: a@b.jp"
                                         << "1"
                                         << "【個人】" << QColor(128, 255, 255) << "From: a@b.jp" << false;
    QTest::newRow("account 1 on card 4") << 0 << 4 << "1"
                                         << "From: a@b.jp"
                                         << "4"
                                         << "【仕事】" << QColor(255, 192, 255) << "From: a@b.jp" << false;
    QTest::newRow("sender cut to 19") << 2 << 3 << "5"
                                      << "  From: 山田太郎 <taro@example.jp>  "
                                      << "5"
                                      << "【予備】" << QColor(255, 255, 255) << "From: 山田太郎 <taro@ex" << false;
    QTest::newRow("unknown account keeps design") << 0 << 2 << ""
                                                  << "From: x"
                                                  << "2"
                                                  << "【アカウント２】" << QColor(128, 255, 255) << "From: x" << false;
    QTest::newRow("account 6 keeps design") << 0 << 5 << "6"
                                            << "From: x"
                                            << "5"
                                            << "【アカウント５】" << QColor(255, 255, 255) << "From: x" << false;
    QTest::newRow("slot 101 beyond the table") << 96 << 5 << ""
                                               << ""
                                               << "101"
                                               << "【アカウント５】" << QColor(255, 255, 255) << "" << true;
    QTest::newRow("slot 100 is the last") << 95 << 5 << "3"
                                          << "From: last"
                                          << "100"
                                          << "【家族】" << QColor(255, 255, 128) << "From: last" << false;
}

void TestNotifyWindows::cardContents()
{
    QFETCH(int, pageOffset);
    QFETCH(int, k);
    QFETCH(QString, account);
    QFETCH(QString, from);
    QFETCH(QString, no);
    QFETCH(QString, accountCaption);
    QFETCH(QColor, accountColour);
    QFETCH(QString, fromCaption);
    QFETCH(bool, blankLines);
    Fixture fx;
    mM_CHKER::AccountName[1] = notify_test::kAccountNames[1];
    mM_CHKER::PageOffset = pageOffset;
    const int slot = pageOffset + k;
    if (slot <= mM_CHKER::kLastSlot) {
        notify_test::fillSlot(slot, account);
        mM_CHKER::MailFrom[slot] = from;
        mM_CHKER::MailTime[slot] = QStringLiteral("  Time: 12/06 11:59:00 ");
    }
    fx.forms().Show(CardForm(k));
    auto* card = fx.forms().Loaded<fMail_Card>(CardForm(k));
    QCOMPARE(card->lblNo()->caption(), no);
    QCOMPARE(card->lblAcount()->caption(), accountCaption);
    QCOMPARE(card->lblAcount()->textColor(), accountColour);
    QCOMPARE(card->lblFrom()->caption(), fromCaption);
    QCOMPARE(card->lblDate()->caption(), blankLines ? QString() : QStringLiteral("Time: 12/06 11:59:00"));
    QCOMPARE(card->lblTitle()->caption().isEmpty(), blankLines);
    // Text that does not fit is cut on one line, never wrapped.
    for (const Control* line : {card->lblAcount(), card->lblDate(), card->lblFrom(), card->lblTitle()})
        QVERIFY(QFontMetrics(line->shownFont()).horizontalAdvance(line->shownCaption()) <= line->width());
    // The time line fits whole, condensed if need be.
    if (!blankLines) QCOMPARE(card->lblDate()->shownCaption(), card->lblDate()->caption());

    // A click on the card opens the detail window with the same lines.
    click(card->lblNo());
    auto* body = fx.forms().Loaded<fMail_Body>(FormId::fMail_Body);
    QVERIFY(body && body->isVisible());
    QCOMPARE(body->Label1()->caption(), accountCaption);
    QCOMPARE(body->Label1()->textColor(), accountColour);
    QCOMPARE(body->lblFrom()->caption(), fromCaption);
    QCOMPARE(body->Text1()->toPlainText().remove(u'\r'),
             blankLines ? QString() : QStringLiteral("本文%1\n二行目").arg(slot));
}

void TestNotifyWindows::cardClickOpensDetail()
{
    Fixture fx;
    fx.mails(3);
    click(openNotifier(fx.forms()).Image1());
    fx.clock.advance(4);
    auto* card = fx.forms().Loaded<fMail_Card>(FormId::fMail_2);
    for (Control* part : {card->Image1(), card->lblAcount(), card->lblDate(), card->lblFrom(), card->lblTitle()}) {
        click(part);
        auto* body = fx.forms().Loaded<fMail_Body>(FormId::fMail_Body);
        QVERIFY2(body && body->isVisible(), qPrintable(part->objectName()));
        QCOMPARE(body->lblTitle()->caption(), mM_CHKER::MailSubject[2]);
        QCOMPARE(body->lblDate()->caption(), mM_CHKER::MailTime[2]);
        // The display time is added, so the stack outlives the reading of the mail.
        QCOMPARE(mM_CHKER::CloseTime, fx.clock.now().addSecs(kDisplaySeconds));
        click(body->Label2(0));
        QVERIFY(!fx.forms().IsLoaded(FormId::fMail_Body));
    }
}

void TestNotifyWindows::cardClickWhileDetailOpen()
{
    Fixture fx;
    fx.mails(3);
    click(openNotifier(fx.forms()).Image1());
    click(fx.forms().Loaded<fMail_Card>(FormId::fMail_1)->Image1());
    auto* body = fx.forms().Loaded<fMail_Body>(FormId::fMail_Body);
    const QDateTime closeTime = mM_CHKER::CloseTime;
    const QString title = body->lblTitle()->caption();
    const QString text = body->Text1()->toPlainText();

    fx.clock.advance(9);
    for (FormId other : {FormId::fMail_1, FormId::fMail_3}) {
        click(fx.forms().Loaded<fMail_Card>(other)->lblTitle());
        QCOMPARE(fx.forms().Loaded<fMail_Body>(FormId::fMail_Body), body);
        QCOMPARE(mM_CHKER::CloseTime, closeTime);
        QCOMPARE(body->lblTitle()->caption(), title);
        QCOMPARE(body->Text1()->toPlainText(), text);
    }
}

void TestNotifyWindows::cardOpensTheMailItShows()
{
    Fixture fx;
    fx.mails(3);
    click(openNotifier(fx.forms()).Image1());
    auto* card = fx.forms().Loaded<fMail_Card>(FormId::fMail_2);
    const QString title = card->lblTitle()->caption();
    QCOMPARE(title, mM_CHKER::MailSubject[2]);

    // A check while the stack is open: a new mail takes slot 1 and the others move up one.
    for (int s = 3; s >= 1; --s) {
        mM_CHKER::MailSubject[s + 1] = mM_CHKER::MailSubject[s];
        mM_CHKER::MailBody[s + 1] = mM_CHKER::MailBody[s];
    }
    notify_test::fillSlot(1, QStringLiteral("1"));
    mM_CHKER::MailSubject[1] = QStringLiteral("Subject:新着");
    mM_CHKER::MailBody[1] = QStringLiteral("新着の本文");
    mM_CHKER::MailCount = 4;

    click(card->Image1());
    auto* body = fx.forms().Loaded<fMail_Body>(FormId::fMail_Body);
    QCOMPARE(body->lblTitle()->caption(), title);
    QCOMPARE(body->Text1()->toPlainText().remove(u'\r'), QStringLiteral("本文2\n二行目"));
}

void TestNotifyWindows::closingDetailRestartsDisplayTime()
{
    Fixture fx;
    fx.mails(2);
    click(openNotifier(fx.forms()).Image1());
    click(fx.forms().Loaded<fMail_Card>(FormId::fMail_1)->Image1());
    QCOMPARE(mM_CHKER::CloseTime, fx.clock.now().addSecs(kDisplaySeconds));

    // Reading takes longer than the display time; the stack then gets the whole time again.
    fx.clock.advance(kDisplaySeconds * 3);
    click(fx.forms().Loaded<fMail_Body>(FormId::fMail_Body)->Label2(0));
    QVERIFY(!fx.forms().IsLoaded(FormId::fMail_Body));
    QCOMPARE(mM_CHKER::CloseTime, fx.clock.now().addSecs(kDisplaySeconds));
    QVERIFY(!mM_CHKER::CloseTimeReached());
}

void TestNotifyWindows::detailWindowDisablesNotifier()
{
    Fixture fx;
    fx.mails(2);
    fMail_Checker& notifier = openNotifier(fx.forms());
    click(notifier.Image1());
    click(fx.forms().Loaded<fMail_Card>(FormId::fMail_1)->Image1());
    auto* body = fx.forms().Loaded<fMail_Body>(FormId::fMail_Body);
    QVERIFY(body->isVisible());
    QVERIFY(!notifier.isEnabled());
    QVERIFY(body->Text1()->isReadOnly());
    QVERIFY(!body->Label2(1)->isEnabled());
    QCOMPARE(body->Label2(1)->caption(), QStringLiteral("削除"));

    // The disabled notifier ignores clicks: the stack stays open.
    QTest::ignoreMessage(QtWarningMsg, "Mouse event \"MousePress\" not accepted by receiving widget");
    QTest::ignoreMessage(QtWarningMsg, "Mouse event \"MouseRelease\" not accepted by receiving widget");
    click(notifier.Image1());
    QVERIFY(fx.forms().IsVisible(FormId::fMail_Top));
    QVERIFY(fx.forms().IsLoaded(FormId::fMail_Checker));

    // "削除" does nothing.
    click(body->Label2(1));
    body->Label2_Click(1);
    QVERIFY(fx.forms().IsVisible(FormId::fMail_Body));

    click(body->Label2(0));
    QVERIFY(!fx.forms().IsLoaded(FormId::fMail_Body));
    QVERIFY(notifier.isEnabled());

    // A new click loads a fresh detail window.
    click(fx.forms().Loaded<fMail_Card>(FormId::fMail_2)->Image1());
    QVERIFY(fx.forms().IsVisible(FormId::fMail_Body));
    QCOMPARE(fx.forms().Loaded<fMail_Body>(FormId::fMail_Body)->lblTitle()->caption(), mM_CHKER::MailSubject[2]);
}

void TestNotifyWindows::unloadingWhatIsNotLoaded()
{
    Fixture fx;
    for (int f = 0; f <= int(FormId::fMail_Body); ++f) fx.forms().Unload(FormId(f));
    QVERIFY(!mM_CHKER::CloseTime.isValid()); // the detail window's unload handler did not run
    // A notifier closed while the detail window was open is not brought back by closing it.
    fx.mails(1);
    click(openNotifier(fx.forms()).Image1());
    click(fx.forms().Loaded<fMail_Card>(FormId::fMail_1)->Image1());
    fx.forms().Unload(FormId::fMail_Checker);
    fx.forms().Unload(FormId::fMail_Body);
    QVERIFY(!fx.forms().IsLoaded(FormId::fMail_Checker));
}

QTEST_MAIN(TestNotifyWindows)
#include "tst_notify_windows.moc"
