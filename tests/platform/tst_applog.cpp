#include "platform/AppLog.h"
#include "platform/Diagnostics.h"
#include "tests/common/ChildRun.h"
#include "tests/common/DiskFaults.h"
#include "tests/common/FileContents.h"
#include "tests/common/StderrCapture.h"
#include "tests/common/StrangeFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

QStringList linesOf(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

mode_t modeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

} // namespace

class TestAppLog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup() { AppLog::SetPath(QString()); }
    void linesAreDatedAndOneLineEach();
    void fileIsPrivateEvenWhenItExisted();
    void movesAsideAtOneMebibyte();
    void unwritableLogIsSaidOnceAndNothingStops_data();
    void unwritableLogIsSaidOnceAndNothingStops();
    void strangerInItsPlaceIsLeftAlone_data() { AddStrangerRows(); }
    void strangerInItsPlaceIsLeftAlone();
    void threadsNeverMixTheirLines();
    void programWarningsReachTheLog();

private:
    QTemporaryDir dir_;
    QString path_;
};

void TestAppLog::init()
{
    path_ = dir_.filePath(QStringLiteral("Dat/ferrowick.log"));
    QDir(dir_.path()).mkpath(QStringLiteral("Dat"));
    QFile::remove(path_);
    QFile::remove(path_ + QStringLiteral(".1"));
    AppLog::SetPath(path_);
}

void TestAppLog::linesAreDatedAndOneLineEach()
{
    AppLog::Append(QStringLiteral("アカウント 1: ログインできません"));
    AppLog::Append(QStringLiteral("two\nlines\r\x1b[31m and C1 \u0085 end"));
    // Invisible controls go; separators break no line.
    AppLog::Append(QStringLiteral("report\u202Efdp.exe\u202C\u200F\u061C\uFEFF\u2028next\u2029end"));
    const QStringList lines = linesOf(path_);
    QCOMPARE(lines.size(), 3);
    static const QRegularExpression dated(QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} "));
    for (const QString& line : lines) QVERIFY2(dated.match(line).hasMatch(), qPrintable(line));
    QVERIFY(lines[0].endsWith(QStringLiteral("アカウント 1: ログインできません")));
    QVERIFY(lines[1].endsWith(QStringLiteral("two lines  [31m and C1   end")));
    QVERIFY2(lines[2].endsWith(QStringLiteral(" reportfdp.exe next end")), qPrintable(lines[2]));
}

void TestAppLog::fileIsPrivateEvenWhenItExisted()
{
    AppLog::Append(QStringLiteral("new file"));
    QCOMPARE(modeOf(path_), mode_t(0600));
    QVERIFY(::chmod(QFile::encodeName(path_).constData(), 0644) == 0);
    AppLog::Append(QStringLiteral("again"));
    QCOMPARE(modeOf(path_), mode_t(0600));
    QCOMPARE(linesOf(path_).size(), 2);
}

void TestAppLog::movesAsideAtOneMebibyte()
{
    const QString filler(999, u'x'); // with the date, 1020 bytes a line
    const int perFile = static_cast<int>(AppLog::kMaxBytes / 1020);
    for (int i = 0; i < perFile; ++i) AppLog::Append(filler);
    QVERIFY(!QFileInfo::exists(path_ + QStringLiteral(".1")));
    AppLog::Append(QStringLiteral("first of the new file"));
    QCOMPARE(linesOf(path_ + QStringLiteral(".1")).size(), perFile);
    QVERIFY(QFileInfo(path_ + QStringLiteral(".1")).size() <= AppLog::kMaxBytes);
    QCOMPARE(modeOf(path_ + QStringLiteral(".1")), mode_t(0600));
    QStringList now = linesOf(path_);
    QCOMPARE(now.size(), 1);
    QVERIFY(now[0].endsWith(QStringLiteral("first of the new file")));
    QCOMPARE(modeOf(path_), mode_t(0600));

    // A second turn replaces the older file; there is never a .2.
    for (int i = 0; i < perFile; ++i) AppLog::Append(filler);
    QVERIFY(linesOf(path_ + QStringLiteral(".1")).constFirst().endsWith(QStringLiteral("first of the new file")));
    QVERIFY(!QFileInfo::exists(path_ + QStringLiteral(".2")));
}

void TestAppLog::unwritableLogIsSaidOnceAndNothingStops_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("diskFull");
    // Root may write anywhere, so a folder that is a file stands for an unwritable one.
    QTest::newRow("folder is a file") << QStringLiteral("FILE/ferrowick.log") << false;
    QTest::newRow("missing folder") << QStringLiteral("gone/ferrowick.log") << false;
    // A log that has reached the largest file this process may write.
    QTest::newRow("disk full") << QStringLiteral("Dat/ferrowick.log") << true;
}

void TestAppLog::unwritableLogIsSaidOnceAndNothingStops()
{
    QFETCH(QString, path);
    QFETCH(bool, diskFull);
    {
        QFile blocker(dir_.filePath(QStringLiteral("FILE")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    const QString target = dir_.filePath(path);
    AppLog::SetPath(target);
    StderrCapture capture;
    if (diskFull) writeAll(target, QByteArray(4096, 'x'));
    {
        const FileSizeLimit limit(diskFull ? 4096 : RLIM_INFINITY);
        for (int i = 0; i < 3; ++i) AppLog::Append(QStringLiteral("lost line %1").arg(i));
    }
    AppLog::Warn("ferrowick: a warning");
    const QString said = QString::fromStdString(capture.text());
    QCOMPARE(said.count(QStringLiteral("cannot write the log")), 1);
    QVERIFY(said.contains(target));
    // Warnings still reach stderr.
    QVERIFY(said.contains(QStringLiteral("ferrowick: a warning\n")));
    QVERIFY(!said.contains(QStringLiteral("lost line")));
}

void TestAppLog::strangerInItsPlaceIsLeftAlone()
{
    QFETCH(Stranger, stranger);
    const PlantedStranger planted(path_, stranger);
    if (!planted.planted()) QSKIP("cannot plant it here (another user's file needs root)");
    // In a child: a log that blocks must not hang the test, only fail it.
    const QString path = path_;
    const ChildResult child = RunInChild(
        [path] {
            AppLog::SetPath(path);
            for (int i = 0; i < 3; ++i) AppLog::Append(QStringLiteral("line %1").arg(i));
            return 0;
        },
        5);
    QVERIFY2(child.exited, "writing the log hung");
    QCOMPARE(child.code, 0);
    QVERIFY(planted.untouched());
    // Said once, naming the file.
    QCOMPARE(child.stderrText.count('\n'), 1);
    QVERIFY2(child.stderrText.contains(QFile::encodeName(path_)), child.stderrText.constData());
}

void TestAppLog::threadsNeverMixTheirLines()
{
    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    {
        StderrCapture quiet;
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([t] {
                const QString tail(200, QChar(u'a' + t));
                for (int i = 0; i < kLines; ++i)
                    AppLog::Warn(QStringLiteral("thread %1 line %2 %3").arg(t).arg(i).arg(tail).toStdString());
            });
        for (auto& thread : threads) thread.join();
    }
    const QStringList lines = linesOf(path_);
    QCOMPARE(lines.size(), kThreads * kLines);
    static const QRegularExpression whole(QStringLiteral(" thread (\\d) line \\d+ ([a-d])\\2{199}$"));
    for (const QString& line : lines) {
        const auto m = whole.match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line));
        QCOMPARE(m.captured(2).at(0).unicode(), char16_t(u'a' + m.captured(1).toInt()));
    }
}

void TestAppLog::programWarningsReachTheLog()
{
    {
        StderrCapture capture;
        Diagnostics::Warn(QStringLiteral("cannot write the day log\u202E"));
        AppLog::Warn("maillib: said\u2028twice\u202E");
        QCOMPARE(QString::fromStdString(capture.text()),
                 QStringLiteral("ferrowick: cannot write the day log\nmaillib: said twice\n"));
    }
    // A desktop session may give the program no stderr at all.
    std::fflush(stderr);
    const int saved = ::dup(2);
    ::close(2);
    Diagnostics::Warn(QStringLiteral("said with stderr closed"));
    ::dup2(saved, 2);
    ::close(saved);
    const QStringList lines = linesOf(path_);
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines[0].endsWith(QStringLiteral(" cannot write the day log")));
    QVERIFY(lines[2].endsWith(QStringLiteral(" said with stderr closed")));
}

QTEST_GUILESS_MAIN(TestAppLog)
#include "tst_applog.moc"
