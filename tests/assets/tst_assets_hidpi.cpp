// The sharper pictures for scale factor 2, the tray's warning icon and the launcher icons.
#include "assets/Assets.h"

#include <QImage>
#include <QPixmap>
#include <QTest>
#include <cmath>

namespace {

// Mean difference per channel (0..255) between two pictures of one size.
double meanDifference(const QImage& a, const QImage& b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
            sum += std::abs(p.red() - q.red()) + std::abs(p.green() - q.green()) + std::abs(p.blue() - q.blue()) +
                   std::abs(p.alpha() - q.alpha());
        }
    return sum / (4.0 * a.width() * a.height());
}

double differingShare(const QImage& a, const QImage& b)
{
    int differing = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) differing += a.pixel(x, y) != b.pixel(x, y);
    return differing / double(a.width() * a.height());
}

} // namespace

class TestAssetsHiDpi : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void doubleSizedPictures_data();
    void doubleSizedPictures();
    void pictureForScreen();
    void warningIconIsTheTrayIconWithASign();
    void launcherIcons_data();
    void launcherIcons();
};

void TestAssetsHiDpi::doubleSizedPictures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("hasDetail"); // a flat picture is the same however it is drawn
    for (const QString& path : Assets::All()) QTest::newRow(qPrintable(path)) << path << (path != Assets::BaseLine);
}

void TestAssetsHiDpi::doubleSizedPictures()
{
    QFETCH(QString, path);
    QFETCH(bool, hasDetail);
    const QImage normal = QImage(path).convertToFormat(QImage::Format_ARGB32);
    const QImage sharp = QImage(Assets::HighResolution(path)).convertToFormat(QImage::Format_ARGB32);
    QVERIFY2(!sharp.isNull(), qPrintable(Assets::HighResolution(path)));
    QCOMPARE(sharp.size(), normal.size() * 2);
    // The same drawing in the same place: brought down to 1x it is close to the 1x picture.
    const QImage reduced = sharp.scaled(normal.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const double drift = meanDifference(reduced, normal);
    QVERIFY2(drift < 12.0, qPrintable(QStringLiteral("mean difference %1").arg(drift)));
    // Drawn at 2x, not the 1x pixels doubled.
    if (hasDetail) {
        const QImage doubled = normal.scaled(sharp.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
        QVERIFY2(differingShare(doubled, sharp) > 0.05, "the @2x picture is the 1x one enlarged");
    }
}

void TestAssetsHiDpi::pictureForScreen()
{
    for (const QString& path : Assets::All()) {
        const QPixmap normal = Assets::Picture(path, 1.0);
        const QPixmap sharp = Assets::Picture(path, 2.0);
        QCOMPARE(normal.devicePixelRatio(), 1.0);
        QCOMPARE(sharp.devicePixelRatio(), 2.0);
        QCOMPARE(sharp.size(), normal.size() * 2);
        // Layouts see the same size: positions do not change with the scale factor.
        QCOMPARE(sharp.deviceIndependentSize(), QSizeF(normal.size()));
    }
    QCOMPARE(Assets::HighResolution(QStringLiteral(":/assets/card.png")), QStringLiteral(":/assets/card@2x.png"));
    // A picture without a 2x variant is still found.
    QVERIFY(Assets::Picture(QStringLiteral(":/qt-project.org/qmime/freedesktop.org.xml"), 2.0).isNull());
}

void TestAssetsHiDpi::warningIconIsTheTrayIconWithASign()
{
    const QImage tray = QImage(Assets::TrayIcon).convertToFormat(QImage::Format_ARGB32);
    const QImage warning = QImage(Assets::TrayIconWarning).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(warning.size(), QSize(32, 32));
    int changed = 0, yellow = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            if (tray.pixel(x, y) == warning.pixel(x, y)) continue;
            ++changed;
            QVERIFY2(x >= 14 && y >= 14,
                     qPrintable(QStringLiteral("changed outside the corner at %1,%2").arg(x).arg(y)));
            const QColor c = warning.pixelColor(x, y);
            if (c.red() > 200 && c.green() > 160 && c.blue() < 90) ++yellow;
        }
    QVERIFY2(changed > 40, "no visible sign");
    QVERIFY2(yellow > 20, "the sign is not yellow");
}

void TestAssetsHiDpi::launcherIcons_data()
{
    QTest::addColumn<int>("size");
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) QTest::newRow(qPrintable(QString::number(size))) << size;
}

void TestAssetsHiDpi::launcherIcons()
{
    QFETCH(int, size);
    const QString path = QStringLiteral(FW_SOURCE_DIR "/assets/icons/ferrowick-%1.png").arg(size);
    const QImage icon = QImage(path).convertToFormat(QImage::Format_ARGB32);
    QVERIFY2(!icon.isNull(), qPrintable(path));
    QCOMPARE(icon.size(), QSize(size, size));
    // A red post box on a transparent ground.
    QCOMPARE(icon.pixelColor(0, 0).alpha(), 0);
    QCOMPARE(icon.pixelColor(size - 1, 0).alpha(), 0);
    const QColor body = icon.pixelColor(size / 4, size * 22 / 32);
    QVERIFY2(body.alpha() == 255 && body.red() > 120 && body.green() < 90,
             qPrintable(QStringLiteral("the body is %1").arg(body.name(QColor::HexArgb))));
    // The small sizes are drawn on whole pixels, not the largest icon scaled down.
    if (size <= 32) {
        const QImage big = QImage(QStringLiteral(FW_SOURCE_DIR "/assets/icons/ferrowick-256.png"))
                               .convertToFormat(QImage::Format_ARGB32)
                               .scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QVERIFY(meanDifference(big, icon) > 1.0);
    }
}

QTEST_MAIN(TestAssetsHiDpi)
#include "tst_assets_hidpi.moc"
