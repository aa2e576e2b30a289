#include "TrayWarningIcon.h"

#include <QGuiApplication>
#include <QImage>
#include <QTest>

class TestTrayWarningIcon : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void markCoversOnlyTheLowerRightCorner();
    void warningPictureDiffersFromTheNormalOne();
};

void TestTrayWarningIcon::markCoversOnlyTheLowerRightCorner()
{
    QPixmap base(32, 32);
    base.fill(QColor(200, 30, 30));
    const QImage marked = WithWarningMark(base).toImage();
    QCOMPARE(marked.size(), QSize(32, 32));
    int changedUpperLeft = 0, changedLowerRight = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const bool changed = marked.pixelColor(x, y) != QColor(200, 30, 30);
            if (x < 14 || y < 14) changedUpperLeft += changed;
            else changedLowerRight += changed;
        }
    QCOMPARE(changedUpperLeft, 0);
    QVERIFY(changedLowerRight > 80);
    // Yellow ground and a dark mark on it, so it reads at tray size.
    QVERIFY(marked.pixelColor(18, 29).red() > 200 && marked.pixelColor(18, 29).green() > 150);
    QVERIFY(marked.pixelColor(23, 22).lightness() < 80 && marked.pixelColor(23, 29).lightness() < 80);
}

void TestTrayWarningIcon::warningPictureDiffersFromTheNormalOne()
{
    QPixmap base(32, 32);
    base.fill(QColor(200, 30, 30));
    const QIcon normal(base);
    const QIcon warning = TrayWarningIcon(normal);
    QVERIFY(!warning.isNull());
    QVERIFY(warning.pixmap(32, 32).toImage() != normal.pixmap(32, 32).toImage());
}

QTEST_MAIN(TestTrayWarningIcon)
#include "tst_tray_warning_icon.moc"
