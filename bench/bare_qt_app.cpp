// The smallest Qt Widgets program a resident is compared with: one frameless window shaped
// by a mask, shown and idle. Prints "painted" once its first paint has happened, so that a
// caller can time start-up and read the idle RSS afterwards.
#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QWidget>

#include <cstdio>

namespace {

class ShapedWindow final : public QWidget {
public:
    ShapedWindow() : QWidget(nullptr, Qt::FramelessWindowHint | Qt::Tool)
    {
        resize(160, 120);
        setMask(QRegion(0, 0, 160, 120, QRegion::Ellipse));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), QColor(0x30, 0x60, 0xa0));
        if (!painted_) {
            painted_ = true;
            std::printf("painted\n");
            std::fflush(stdout);
        }
    }

private:
    bool painted_ = false;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    ShapedWindow w;
    w.show();
    return QApplication::exec();
}
