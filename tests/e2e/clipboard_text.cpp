// Prints the X clipboard's text, so that the end-to-end test can read what the program shows.
#include <QClipboard>
#include <QGuiApplication>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    // The clipboard owner answers through the event loop.
    QTimer::singleShot(300, &app, [] {
        std::fputs(QGuiApplication::clipboard()->text().toUtf8().constData(), stdout);
        QCoreApplication::quit();
    });
    return QGuiApplication::exec();
}
