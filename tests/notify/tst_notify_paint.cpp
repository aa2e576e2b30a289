// What the notification windows paint: each caption appears on screen in its own colour.
#include "notify/Control.h"
#include "tests/notify/NotifyFixture.h"
#include "notify/fMail_Body.h"
#include "notify/fMail_Card.h"
#include "notify/fMail_Checker.h"

#include <QImage>
#include <QPixmap>

using namespace notify;
using notify_test::Fixture;

namespace {

// Pixels of `rect` in `image` within a small distance of `colour`; glyph edges are blended with
// the picture below, their cores are the pen's colour.
int pixelsOf(const QImage& image, const QRect& rect, const QColor& colour)
{
    constexpr int kTolerance = 24;
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (qAbs(c.red() - colour.red()) <= kTolerance && qAbs(c.green() - colour.green()) <= kTolerance &&
                qAbs(c.blue() - colour.blue()) <= kTolerance)
                ++n;
        }
    }
    return n;
}

// The colour a caption is drawn in: its own, or the engraved grey of a greyed button.
QColor inkOf(const Control& c) { return c.isEnabled() ? c.textColor() : QColor(150, 150, 150); }

void click(Control* control) { QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(2, 2)); }

} // namespace

class TestNotifyPaint : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { notify_test::QuietOffscreenNotices(); }
    void captionsAppearInTheirColour_data();
    void captionsAppearInTheirColour();
};

void TestNotifyPaint::captionsAppearInTheirColour_data()
{
    QTest::addColumn<FormId>("form");
    QTest::addColumn<int>("captions"); // how many captions the window shows
    QTest::newRow("header") << FormId::fMail_Top << 1;
    QTest::newRow("footer") << FormId::fMail_Bot << 1;
    for (int k = 1; k <= 5; ++k) QTest::addRow("card %d", k) << CardForm(k) << 5;
    QTest::newRow("detail") << FormId::fMail_Body << 6;
}

void TestNotifyPaint::captionsAppearInTheirColour()
{
    QFETCH(FormId, form);
    QFETCH(int, captions);
    Fixture fx;
    fx.mails(12);
    fx.forms().Show(FormId::fMail_Checker);
    click(fx.forms().Loaded<fMail_Checker>(FormId::fMail_Checker)->Image1());
    click(fx.forms().Loaded<fMail_Card>(FormId::fMail_3)->Image1());
    QWidget* window = fx.forms().Loaded(form);
    QVERIFY(window && window->isVisible());

    int checked = 0;
    for (Control* c : window->findChildren<Control*>()) {
        if (c->caption().isEmpty()) continue;
        ++checked;
        const QColor ink = inkOf(*c);
        const int with = pixelsOf(window->grab().toImage(), c->geometry(), ink);
        // The same rectangle without the caption: only what the caption adds counts.
        const QString caption = c->caption();
        c->setCaption(QString());
        const int without = pixelsOf(window->grab().toImage(), c->geometry(), ink);
        c->setCaption(caption);
        QVERIFY2(with > without, qPrintable(QStringLiteral("%1 '%2': %3 pixels of %4, %5 without the caption")
                                                .arg(c->objectName(), caption)
                                                .arg(with)
                                                .arg(ink.name())
                                                .arg(without)));
    }
    QCOMPARE(checked, captions);
}

QTEST_MAIN(TestNotifyPaint)
#include "tst_notify_paint.moc"
