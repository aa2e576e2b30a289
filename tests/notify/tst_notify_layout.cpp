// Placement, captions, scrolling and shaping arithmetic, without windows.
#include "notify/Layout.h"
#include "notify/SetRgn.h"

#include <QTest>

using namespace notify::layout;

Q_DECLARE_METATYPE(QList<FormId>)

class TestNotifyLayout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void roundHalfEven_data();
    void roundHalfEven();
    void clientOffsets_data();
    void clientOffsets();
    void windowRegion();
    void stackLayout_data();
    void stackLayout();
    void captions();
    void nextScroll_data();
    void nextScroll();
    void accounts_data();
    void accounts();
    void corners();
};

void TestNotifyLayout::roundHalfEven_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("half to even zero") << 0.5 << 0;
    QTest::newRow("half up to even") << 1.5 << 2;
    QTest::newRow("half down to even") << 2.5 << 2;
    QTest::newRow("negative half") << -0.5 << 0;
    QTest::newRow("negative odd half") << -1.5 << -2;
    QTest::newRow("just below half") << 2.4999 << 2;
    QTest::newRow("just above half") << 2.5001 << 3;
    QTest::newRow("whole") << 7.0 << 7;
}

void TestNotifyLayout::roundHalfEven()
{
    QFETCH(double, value);
    QFETCH(int, expected);
    QCOMPARE(SetRgn::RoundHalfEven(value), expected);
}

void TestNotifyLayout::clientOffsets_data()
{
    QTest::addColumn<double>("outerW");
    QTest::addColumn<double>("outerH");
    QTest::addColumn<double>("twipsPerPixel");
    QTest::addColumn<QSize>("client");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("borderless") << 1725.0 << 1920.0 << 15.0 << QSize(115, 128) << QPoint(0, 0);
    // 133.33 px wide with a 125 px client: frame 4.17 -> 4; 160 - 135 - 4 = 21 for the title bar.
    QTest::newRow("framed") << 2000.0 << 2400.0 << 15.0 << QSize(125, 135) << QPoint(4, 21);
    QTest::newRow("frame exactly 1.5 goes to 2") << 1920.0 << 2100.0 << 15.0 << QSize(125, 130) << QPoint(2, 8);
    QTest::newRow("frame exactly 2.5 goes to 2") << 1950.0 << 2100.0 << 15.0 << QSize(125, 130) << QPoint(2, 8);
    QTest::newRow("title exactly 3.5 goes to 4") << 1950.0 << 2032.5 << 15.0 << QSize(125, 130) << QPoint(2, 4);
    QTest::newRow("120 dpi") << 1800.0 << 2160.0 << 12.0 << QSize(140, 160) << QPoint(5, 15);
}

void TestNotifyLayout::clientOffsets()
{
    QFETCH(double, outerW);
    QFETCH(double, outerH);
    QFETCH(double, twipsPerPixel);
    QFETCH(QSize, client);
    QFETCH(QPoint, expected);
    QCOMPARE(SetRgn::ClientOffsets(outerW, outerH, twipsPerPixel, twipsPerPixel, client.width(), client.height()),
             expected);
}

void TestNotifyLayout::windowRegion()
{
    QVERIFY(SetRgn::WindowRegion({}, QPoint(4, 21)).isEmpty());

    const QRegion overlapping = SetRgn::WindowRegion({QRect(0, 0, 10, 10), QRect(5, 5, 10, 10)}, QPoint());
    QCOMPARE(overlapping.boundingRect(), QRect(0, 0, 15, 15));
    QVERIFY(overlapping.contains(QPoint(12, 12)));
    QVERIFY(!overlapping.contains(QPoint(12, 2)));

    // Two pieces with a see-through gap, moved by the frame offset.
    const QRegion apart = SetRgn::WindowRegion({QRect(0, 0, 10, 10), QRect(20, 0, 10, 10)}, QPoint(4, 21));
    QCOMPARE(apart.rectCount(), 2);
    QVERIFY(apart.contains(QPoint(4, 21)));
    QVERIFY(!apart.contains(QPoint(0, 0)));
    QVERIFY(!apart.contains(QPoint(4 + 15, 21 + 5)));
    QVERIFY(apart.contains(QPoint(4 + 25, 21 + 5)));
}

void TestNotifyLayout::stackLayout_data()
{
    QTest::addColumn<qint32>("mailCount");
    QTest::addColumn<int>("headerDistance");
    QTest::addColumn<QList<FormId>>("windows");
    const QList<FormId> allCards = {FormId::fMail_1, FormId::fMail_2, FormId::fMail_3, FormId::fMail_4,
                                    FormId::fMail_5};
    QTest::newRow("no mail") << 0 << 2545 << QList<FormId>{FormId::fMail_Top};
    QTest::newRow("one") << 1 << 3145 << QList<FormId>{FormId::fMail_Top, FormId::fMail_1};
    QTest::newRow("three") << 3 << 4705
                           << QList<FormId>{FormId::fMail_Top, FormId::fMail_1, FormId::fMail_2, FormId::fMail_3};
    QTest::newRow("five") << 5 << 6265 << (QList<FormId>{FormId::fMail_Top} + allCards);
    QTest::newRow("six") << 6 << 6265 << (QList<FormId>{FormId::fMail_Top} + allCards + QList{FormId::fMail_Bot});
    QTest::newRow("twelve") << 12 << 6265 << (QList<FormId>{FormId::fMail_Top} + allCards + QList{FormId::fMail_Bot});
    QTest::newRow("negative") << -1 << 6265 << (QList<FormId>{FormId::fMail_Top} + allCards + QList{FormId::fMail_Bot});
}

void TestNotifyLayout::stackLayout()
{
    QFETCH(qint32, mailCount);
    QFETCH(int, headerDistance);
    QFETCH(QList<FormId>, windows);
    const StackLayout layout = StackLayoutFor(mailCount);
    QCOMPARE(layout.headerDistance, headerDistance);
    QCOMPARE(layout.windows, windows);
}

void TestNotifyLayout::captions()
{
    QCOMPARE(HeaderCaption(0), QStringLiteral("新着メッセージ無し"));
    QCOMPARE(HeaderCaption(7), QStringLiteral("新着メール7件受信"));
    QCOMPARE(HeaderCaption(12345), QStringLiteral("新着メール12345件受信")); // no digit grouping
    QCOMPARE(FooterCaption(2), QStringLiteral("他2件受信"));
    QCOMPARE(StackTopTwips(15360 - 6265), qint64(9095));
    QCOMPARE(StackTopTwips(-40), qint64(-40));
    QCOMPARE(StackTopTwips(9094.5), qint64(9095));
}

void TestNotifyLayout::nextScroll_data()
{
    QTest::addColumn<qint32>("extra");
    QTest::addColumn<qint32>("offset");
    QTest::addColumn<qint32>("nextOffset");
    QTest::addColumn<QString>("caption");
    QTest::newRow("first of three") << 3 << 0 << 1 << QStringLiteral("他2件受信");
    QTest::newRow("reaches the end") << 3 << 2 << 3 << QStringLiteral("残メール無し");
    QTest::newRow("wraps after the end") << 3 << 3 << 0 << QStringLiteral("他3件受信");
    QTest::newRow("offset past extra wraps") << 3 << 9 << 0 << QStringLiteral("他3件受信");
    QTest::newRow("no extra mail") << 0 << 0 << 0 << QStringLiteral("他0件受信");
    QTest::newRow("largest counts") << std::numeric_limits<qint32>::max() << std::numeric_limits<qint32>::max() - 1
                                    << std::numeric_limits<qint32>::max() << QStringLiteral("残メール無し");
}

void TestNotifyLayout::nextScroll()
{
    QFETCH(qint32, extra);
    QFETCH(qint32, offset);
    QFETCH(qint32, nextOffset);
    QFETCH(QString, caption);
    const ScrollStep step = NextScroll(extra, offset);
    QCOMPARE(step.pageOffset, nextOffset);
    QCOMPARE(step.caption, caption);
}

void TestNotifyLayout::accounts_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("account");
    QTest::newRow("1") << QStringLiteral("1") << 1;
    QTest::newRow("5") << QStringLiteral("5") << 5;
    QTest::newRow("empty") << QString() << 0;
    QTest::newRow("6") << QStringLiteral("6") << 0;
    QTest::newRow("padded") << QStringLiteral(" 2") << 0;
    QTest::newRow("full-width digit") << QStringLiteral("２") << 0;
    QTest::newRow("leading zero") << QStringLiteral("03") << 0;
}

void TestNotifyLayout::accounts()
{
    QFETCH(QString, label);
    QFETCH(int, account);
    QCOMPARE(AccountNumber(label), account);
}

void TestNotifyLayout::corners()
{
    // Colours are &HBBGGRR: account 2 is red 128, green 255, blue 255.
    QCOMPARE(AccountColor(1), QColor(255, 192, 255));
    QCOMPARE(AccountColor(2), QColor(128, 255, 255));
    QCOMPARE(AccountColor(3), QColor(255, 255, 128));
    QCOMPARE(ColorFromBgr(0x80C0FF), QColor(255, 192, 128));
    QCOMPARE(CardDesignCaption(3), QStringLiteral("【アカウント３】"));

    const double W = 19200, H = 15360;
    QCOMPARE(NotifierCorner(W, H), (Corner{17200, 12560}));
    QCOMPARE(CardCorner(1, W, H), (Corner{15495, 12615}));
    QCOMPARE(CardCorner(5, W, H), (Corner{15495, 9495}));
    QCOMPARE(FooterCorner(W, H), (Corner{15495, 13395}));
    QCOMPARE(BodyCorner(W, H, 4695, 4635), (Corner{14405, 10225}));
}

QTEST_APPLESS_MAIN(TestNotifyLayout)
#include "tst_notify_layout.moc"
