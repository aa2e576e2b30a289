// What the captions of the notification windows actually show: numbers and counts whole, text
// lines condensed or cut by the same measure that draws them.
#include "notify/CaptionFit.h"
#include "notify/Control.h"
#include "platform/JapaneseFont.h"
#include "notify/Layout.h"
#include "tests/notify/NotifyFixture.h"
#include "notify/fMail_Bot.h"
#include "notify/fMail_Card.h"
#include "notify/fMail_Top.h"

#include <QApplication>
#include <cmath>

using namespace notify;
using notify_test::Fixture;

namespace {

// Counts whose captions differ in width: every count up to 1000, then each digit repeated to
// every length up to six, and the largest counts a strip has to show.
QList<qint32> countsToShow()
{
    QList<qint32> counts;
    for (qint32 n = 1; n <= 1000; ++n) counts << n;
    for (int digits = 4; digits <= 6; ++digits)
        for (char d = '1'; d <= '9'; ++d) counts << QString(digits, QChar(d)).toInt();
    counts << 10000 << 99995 << 99999 << 100000;
    return counts;
}

qreal advance(const QFont& font, const QString& text) { return QFontMetricsF(font).horizontalAdvance(text); }

const QString kEllipsis(QChar(0x2026));

} // namespace

Q_DECLARE_METATYPE(notify::Overflow)

class TestNotifyCaptions : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { notify_test::QuietOffscreenNotices(); }
    void fitCaption_data();
    void fitCaption();
    void fitIsNeverCutWhenDrawn();
    void everySlotNumberShowsWhole();
    void stripCountsShowWhole();
};

void TestNotifyCaptions::fitCaption_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QFont>("font");
    QTest::addColumn<qreal>("width");
    QTest::addColumn<Overflow>("overflow");
    QTest::addColumn<QString>("how"); // as is, condensed, smaller, cut

    const QFont line = JapaneseUiFont(8.25);
    const QFont number = JapaneseUiFont(9, true);
    const QString time = QStringLiteral("Time: 12/06 11:59:00");
    const QString subject = QStringLiteral("Subject:来週の定例会議の議題と資料についてのお知らせとお願い");
    QTest::newRow("line that fits") << time << line << 200.0 << Overflow::Elide << "as is";
    QTest::newRow("line a little too wide")
        << time << line << std::ceil(advance(line, time) * 0.95) << Overflow::Elide << "condensed";
    QTest::newRow("long line") << subject << line << 113.0 << Overflow::Elide << "cut";
    QTest::newRow("two digits in a card's number box") << "55" << number << 13.0 << Overflow::Shrink << "condensed";
    QTest::newRow("three digits in a card's number box") << "100" << number << 13.0 << Overflow::Shrink << "smaller";
    QTest::newRow("a number too long to read small") << "12345678901234" << number << 13.0 << Overflow::Shrink << "cut";
    QTest::newRow("empty") << QString() << number << 0.0 << Overflow::Shrink << "as is";
}

void TestNotifyCaptions::fitCaption()
{
    QFETCH(QString, caption);
    QFETCH(QFont, font);
    QFETCH(qreal, width);
    QFETCH(Overflow, overflow);
    QFETCH(QString, how);
    const CaptionFit fit = FitCaption(caption, font, width, overflow);
    QVERIFY(advance(fit.font, fit.text) <= width);
    if (how == "cut") {
        QVERIFY2(fit.text.endsWith(kEllipsis), qPrintable(fit.text));
        QVERIFY(caption.startsWith(fit.text.chopped(1)));
        QCOMPARE(fit.font, font); // cut in the design font, neither condensed nor smaller
        return;
    }
    QCOMPARE(fit.text, caption);
    QCOMPARE(fit.font.pointSizeF() < font.pointSizeF(), how == "smaller");
    QCOMPARE(fit.font.stretch() != font.stretch(), how != "as is");
}

void TestNotifyCaptions::fitIsNeverCutWhenDrawn()
{
    // Whatever is decided must come out of the text layout unchanged at that width: the layout
    // cuts by the exact advance, so a fit judged by a rounded figure would lose its end here.
    const QFont fonts[] = {JapaneseUiFont(9, true), JapaneseUiFont(9.75), JapaneseUiFont(8.25)};
    const QStringList captions = {
        "7", "10", "55", "99", "100", "新着メール1000件受信", "他99995件受信", "From: sender@example.jp"};
    for (const QFont& font : fonts) {
        for (const QString& caption : captions) {
            for (int width = 4; width <= 140; ++width) {
                for (Overflow overflow : {Overflow::Elide, Overflow::Shrink}) {
                    const CaptionFit fit = FitCaption(caption, font, width, overflow);
                    const QString drawn = QFontMetricsF(fit.font).elidedText(fit.text, Qt::ElideRight, width);
                    if (drawn != fit.text)
                        QFAIL(qPrintable(QStringLiteral("'%1' at %2 px: decided '%3', drawn '%4'")
                                             .arg(caption)
                                             .arg(width)
                                             .arg(fit.text, drawn)));
                }
            }
        }
    }
}

void TestNotifyCaptions::everySlotNumberShowsWhole()
{
    Fixture fx;
    fx.mails(100);
    // Slot 101 is what card 5 shows once the view is scrolled past the last stored mail.
    for (int slot = 1; slot <= mM_CHKER::kLastSlot + 1; ++slot) {
        const int k = (slot - 1) % 5 + 1;
        mM_CHKER::PageOffset = slot - k;
        fx.forms().Show(CardForm(k));
        const Control* no = fx.forms().Loaded<fMail_Card>(CardForm(k))->lblNo();
        QCOMPARE(no->caption(), QString::number(slot));
        QCOMPARE(no->shownCaption(), no->caption());
        QVERIFY(QFontMetricsF(no->shownFont(), no).horizontalAdvance(no->shownCaption()) <= no->width());
        fx.forms().Unload(CardForm(k));
    }
}

void TestNotifyCaptions::stripCountsShowWhole()
{
    Fixture fx;
    mM_CHKER::MailCount = 100000;
    mM_CHKER::ExtraCount = 100000 - 5;
    Control* header = fx.forms().Load<fMail_Top>(FormId::fMail_Top).lblDate();
    Control* footer = fx.forms().Load<fMail_Bot>(FormId::fMail_Bot).lblDate();
    // Loading sets the captions from the counters.
    QCOMPARE(header->caption(), QStringLiteral("新着メール100000件受信"));
    QCOMPARE(footer->caption(), QStringLiteral("他99995件受信"));
    for (const qint32 n : countsToShow()) {
        header->setCaption(layout::HeaderCaption(n));
        footer->setCaption(layout::FooterCaption(n));
        QCOMPARE(header->shownCaption(), header->caption());
        QCOMPARE(footer->shownCaption(), footer->caption());
    }
    footer->setCaption(QString::fromUtf16(layout::kNoMailsLeft));
    QCOMPARE(footer->shownCaption(), footer->caption());
}

QTEST_MAIN(TestNotifyCaptions)
#include "tst_notify_captions.moc"
