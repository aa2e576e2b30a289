// The compiled-in pictures: present, at their sizes, and opaque where windows are cut to them.
#include "assets/Assets.h"

#include <QGuiApplication>
#include <QImage>
#include <QTest>

class TestNotifyAssets : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void pictures_data();
    void pictures();
};

void TestNotifyAssets::pictures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("opaque");
    QTest::newRow("post box") << Assets::PostBox << QSize(38, 48) << true;
    QTest::newRow("post") << Assets::Post << QSize(7, 18) << true;
    QTest::newRow("base line") << Assets::BaseLine << QSize(36, 2) << true;
    QTest::newRow("header strip") << Assets::StripHeader << QSize(130, 25) << true;
    QTest::newRow("footer strip") << Assets::StripFooter << QSize(90, 25) << true;
    QTest::newRow("scroll button") << Assets::ScrollButton << QSize(26, 25) << true;
    QTest::newRow("card") << Assets::Card << QSize(130, 50) << true;
    QTest::newRow("wood panel") << Assets::WoodPanel << QSize(330, 311) << true;
    QTest::newRow("tray icon") << Assets::TrayIcon << QSize(32, 32) << false;
}

void TestNotifyAssets::pictures()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(bool, opaque);
    QVERIFY(Assets::All().contains(path));
    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), size);
    if (!opaque) return;
    // A shaped window shows every pixel of its pictures: none may be see-through.
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(argb.pixel(x, y)) != 255)
                QFAIL(qPrintable(QStringLiteral("transparent at %1,%2").arg(x).arg(y)));
}

QTEST_GUILESS_MAIN(TestNotifyAssets)
#include "tst_notify_assets.moc"
