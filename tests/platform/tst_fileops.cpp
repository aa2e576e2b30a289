#include "platform/FileOps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

namespace {
void touch(const QString& path)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("x");
}
} // namespace

class TestFileOps : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void deleteTakesTheNameLiterally_data();
    void deleteTakesTheNameLiterally();
    void purgeRemovesOnlyTxtFilesDirectlyInFolder();
    void replaceWritesThroughLinkToItsTarget();
};

void TestFileOps::deleteTakesTheNameLiterally_data()
{
    QTest::addColumn<QString>("name"); // relative to the receive folder
    QTest::addColumn<bool>("deleted");
    QTest::addColumn<QStringList>("survivors"); // relative to the temp dir
    QTest::addColumn<bool>("held");             // the folder handed over held open
    for (const bool held : {false, true}) {
        const char* how = held ? ", folder held open" : "";
        QTest::addRow("the named file%s", how)
            << "a.txt" << true << QStringList{"maildata/b.txt", "outside.txt"} << held;
        QTest::addRow("wildcard is no pattern%s", how)
            << "*.txt" << false << QStringList{"maildata/a.txt", "maildata/b.txt"} << held;
        QTest::addRow("outside the folder%s", how) << "../outside.txt" << false << QStringList{"outside.txt"} << held;
        QTest::addRow("in a subfolder%s", how) << "sub/c.txt" << false << QStringList{"maildata/sub/c.txt"} << held;
        QTest::addRow("a folder%s", how) << "sub" << false << QStringList{"maildata/sub/c.txt"} << held;
        QTest::addRow("missing file%s", how) << "gone.txt" << false << QStringList{"maildata/a.txt"} << held;
        QTest::addRow("empty name%s", how) << "" << false << QStringList{"maildata/a.txt"} << held;
        QTest::addRow("through a way back in%s", how)
            << "sub/../a.txt" << true << QStringList{"maildata/b.txt", "maildata/sub/c.txt"} << held;
        QTest::addRow("a link in the folder%s", how) << "link.txt" << false << QStringList{"outside.txt"} << held;
    }
}

void TestFileOps::deleteTakesTheNameLiterally()
{
    QFETCH(QString, name);
    QFETCH(bool, deleted);
    QFETCH(QStringList, survivors);
    QFETCH(bool, held);
    QTemporaryDir tmp;
    const QString folder = tmp.filePath(QStringLiteral("maildata"));
    QDir().mkpath(folder + QStringLiteral("/sub"));
    for (const char* f : {"maildata/a.txt", "maildata/b.txt", "maildata/sub/c.txt", "outside.txt"})
        touch(tmp.filePath(QString::fromLatin1(f)));
    QVERIFY(QFile::link(tmp.filePath(QStringLiteral("outside.txt")), folder + QStringLiteral("/link.txt")));
    const QString path = name.isEmpty() ? QString() : folder + u'/' + name;
    const int fd = held ? ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    QCOMPARE(FileOps::DeleteFileInFolder(path, folder, fd), deleted);
    if (fd >= 0) ::close(fd);
    for (const QString& s : survivors) QVERIFY2(QFile::exists(tmp.filePath(s)), qPrintable(s));
}

void TestFileOps::purgeRemovesOnlyTxtFilesDirectlyInFolder()
{
    QTemporaryDir tmp;
    const QString folder = tmp.filePath(QStringLiteral("maildata"));
    QDir().mkpath(folder + QStringLiteral("/Dat"));
    QDir().mkpath(folder + QStringLiteral("/dir.txt"));
    for (const char* f : {"maildata/m1.txt", "maildata/m2.TXT", "maildata/keep.txt.bak", "maildata/keep.ini",
                          "maildata/Dat/RevMail.txt", "outside.txt"})
        touch(tmp.filePath(QString::fromLatin1(f)));
    QFile::link(tmp.filePath(QStringLiteral("outside.txt")), folder + QStringLiteral("/link.txt"));

    QCOMPARE(FileOps::DeleteTxtFiles(folder), 3);
    QVERIFY(!QFileInfo(folder + QStringLiteral("/link.txt")).isSymLink());
    QVERIFY(!QFile::exists(folder + QStringLiteral("/m1.txt")));
    QVERIFY(!QFile::exists(folder + QStringLiteral("/m2.TXT")));
    for (const char* f : {"maildata/keep.txt.bak", "maildata/keep.ini", "maildata/Dat/RevMail.txt", "outside.txt"})
        QVERIFY2(QFile::exists(tmp.filePath(QString::fromLatin1(f))), f);
    QVERIFY(QDir(folder + QStringLiteral("/dir.txt")).exists());
    QVERIFY(QFile::exists(tmp.filePath(QStringLiteral("outside.txt"))));
}

void TestFileOps::replaceWritesThroughLinkToItsTarget()
{
    // A settings file kept elsewhere and linked in stays where it is, and stays linked.
    QTemporaryDir tmp;
    QDir().mkpath(tmp.filePath(QStringLiteral("dotfiles")));
    const QString target = tmp.filePath(QStringLiteral("dotfiles/maildata.ini"));
    const QString link = tmp.filePath(QStringLiteral("maildata.ini"));
    touch(target);
    QVERIFY(QFile::link(target, link));
    QVERIFY(FileOps::ReplaceFile(link, "[POP]\n", true));
    QVERIFY(QFileInfo(link).isSymLink());
    QFile f(target);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("[POP]\n"));
    QCOMPARE(QDir(tmp.filePath(QStringLiteral("dotfiles"))).entryList(QDir::Files), QStringList{"maildata.ini"});
    // A link to nothing is refused rather than replaced by a file.
    QVERIFY(QFile::link(tmp.filePath(QStringLiteral("gone.ini")), tmp.filePath(QStringLiteral("dangling.ini"))));
    QString error;
    QVERIFY(!FileOps::ReplaceFile(tmp.filePath(QStringLiteral("dangling.ini")), "x", true, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFile::exists(tmp.filePath(QStringLiteral("gone.ini"))));
}

QTEST_GUILESS_MAIN(TestFileOps)
#include "tst_fileops.moc"
