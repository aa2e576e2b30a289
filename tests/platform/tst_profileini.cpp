#include "tests/common/FileContents.h"
#include "tests/common/ChildRun.h"
#include "tests/common/DiskFaults.h"
#include "platform/ProfileIni.h"
#include "platform/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray cp932(const QString& text)
{
    QByteArray out;
    TextCodec::EncodeCp932(text, out);
    return out;
}

QByteArray utf16(const QString& text, bool bigEndian)
{
    QByteArray out = bigEndian ? QByteArray("\xFE\xFF", 2) : QByteArray("\xFF\xFE", 2);
    for (const QChar c : text) {
        const char hi = char(c.unicode() >> 8), lo = char(c.unicode() & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    }
    return out;
}

int lineCount(const QByteArray& text) { return int(text.count('\n')); }

// Every (section, key) the file names, by a reading of its own, plus keys it does not have.
QList<QPair<QString, QString>> keysOf(const QString& text)
{
    QList<QPair<QString, QString>> keys{{"POP", "NAME9"}, {"NOSUCH", "USER1"}};
    QString section;
    for (QString line : text.split(u'\n')) {
        line = line.trimmed();
        if (line.startsWith(u'[') && line.contains(u']')) section = line.mid(1, line.indexOf(u']') - 1).trimmed();
        else if (line.contains(u'=') && !line.startsWith(u';'))
            keys.append({section, line.left(line.indexOf(u'=')).trimmed()});
    }
    return keys;
}

} // namespace

class TestProfileIni : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void reading_data();
    void reading();
    void valueCutAt499BytesOnCharacterBoundary_data();
    void valueCutAt499BytesOnCharacterBoundary();
    void writeCreatesFileSectionAndKey();
    void windowsFileSurvivesWriteByteForByte();
    void utf8FileStaysUtf8();
    void cp932FileRefusesTextItCannotHold();
    void utf16FileReadAndWrittenInItsEncoding_data();
    void utf16FileReadAndWrittenInItsEncoding();
    void noSaveChangesWhatAnotherKeyReads_data();
    void noSaveChangesWhatAnotherKeyReads();
    void failedWriteLeavesOldFile_data();
    void failedWriteLeavesOldFile();
    void onlyRegularFilesAreRead_data();
    void onlyRegularFilesAreRead();
    void readIsCappedWithOneWarning();
    void staleTemporariesAreRemoved();
    void writeIntoMissingFolderFails();
    void lineBreakInValueCannotInjectKeys();

private:
    QTemporaryDir dir_;
};

void TestProfileIni::reading_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << QByteArray("[POP]\r\nUSER1=taro\r\n") << "POP"
                           << "USER1"
                           << "taro";
    QTest::newRow("names match case-insensitively") << QByteArray("[pop]\nuser1=taro\n") << "POP"
                                                    << "USER1"
                                                    << "taro";
    QTest::newRow("blanks around = and value") << QByteArray("[POP]\n  USER1   =   taro  \n") << "POP"
                                               << "USER1"
                                               << "taro";
    QTest::newRow("double quotes stripped once") << QByteArray("[POP]\nUSER1=\"\"taro\"\"\n") << "POP"
                                                 << "USER1"
                                                 << "\"taro\"";
    QTest::newRow("single quotes stripped") << QByteArray("[POP]\nUSER1='a b'\n") << "POP"
                                            << "USER1"
                                            << "a b";
    QTest::newRow("unbalanced quote kept") << QByteArray("[POP]\nUSER1=\"abc\n") << "POP"
                                           << "USER1"
                                           << "\"abc";
    QTest::newRow("first duplicate wins") << QByteArray("[POP]\nUSER1=first\nUSER1=second\n") << "POP"
                                          << "USER1"
                                          << "first";
    QTest::newRow("key in other section") << QByteArray("[MAIL_REV]\nUSER1=x\n[POP]\n") << "POP"
                                          << "USER1"
                                          << "";
    QTest::newRow("comment is no key") << QByteArray("[POP]\n;USER1=x\n") << "POP"
                                       << "USER1"
                                       << "";
    QTest::newRow("missing section") << QByteArray("USER1=x\n") << "POP"
                                     << "USER1"
                                     << "";
    QTest::newRow("empty value") << QByteArray("[POP]\nUSER1=\n") << "POP"
                                 << "USER1"
                                 << "";
    QTest::newRow("value keeps inner =") << QByteArray("[POP]\nPASS1=a=b\n") << "POP"
                                         << "PASS1"
                                         << "a=b";
    QTest::newRow("utf8 with bom") << QByteArray("\xEF\xBB\xBF[POP]\nNAME1=会社#\n") << "POP"
                                   << "NAME1"
                                   << "会社#";
    QTest::newRow("utf8 without bom") << QByteArray("[POP]\nNAME1=仕事①#\n") << "POP"
                                      << "NAME1"
                                      << "仕事①#";
    QTest::newRow("cp932 with NEC extension")
        << (QByteArray("[POP]\r\nNAME1=") + cp932(QStringLiteral("仕事①㈱#")) + "\r\n") << "POP"
        << "NAME1"
        << "仕事①㈱#";
    QTest::newRow("garbage bytes") << QByteArray("\xff\xfe\x00\x01garbage") << "POP"
                                   << "USER1"
                                   << "";
}

void TestProfileIni::reading()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    const QString path = dir_.filePath(QStringLiteral("read.ini"));
    writeAll(path, file);
    QCOMPARE(ProfileIni::GetString(section, key, path), expected);
}

void TestProfileIni::valueCutAt499BytesOnCharacterBoundary_data()
{
    QTest::addColumn<QByteArray>("encodedValue");
    QTest::addColumn<QString>("expected");
    const QString ascii(600, u'x');
    QTest::newRow("600 ascii bytes") << ascii.toLatin1() << QString(499, u'x');
    // 300 two-byte characters: 249 fit in 498 bytes; the 250th would need 500.
    const QString kanji(300, QChar(0x4F1A));
    QTest::newRow("cp932 double-byte") << cp932(kanji) << QString(249, QChar(0x4F1A));
    // 200 three-byte characters in UTF-8: 166 fit in 498 bytes.
    QTest::newRow("utf8 three-byte") << kanji.left(200).toUtf8() << QString(166, QChar(0x4F1A));
}

void TestProfileIni::valueCutAt499BytesOnCharacterBoundary()
{
    QFETCH(QByteArray, encodedValue);
    QFETCH(QString, expected);
    const QString path = dir_.filePath(QStringLiteral("long.ini"));
    writeAll(path, "[POP]\r\nPASS1=" + encodedValue + "\r\n");
    QCOMPARE(ProfileIni::GetString(QStringLiteral("POP"), QStringLiteral("PASS1"), path), expected);
}

void TestProfileIni::writeCreatesFileSectionAndKey()
{
    const QString path = dir_.filePath(QStringLiteral("new.ini"));
    QFile::remove(path);
    QVERIFY(ProfileIni::WriteString(QStringLiteral("POP"), QStringLiteral("NAME1"), QStringLiteral("会社#"), path));
    QVERIFY(ProfileIni::WriteString(QStringLiteral("MAIL_REV"), QStringLiteral("REV_TIMER_MIN"), QStringLiteral("5"),
                                    path));
    QVERIFY(ProfileIni::WriteString(QStringLiteral("POP"), QStringLiteral("USER1"), QStringLiteral("taro"), path));
    // A new file is UTF-8 without a mark, with CRLF as Windows writes it; keys join their own section.
    QCOMPARE(readAll(path), QByteArray("[POP]\r\nNAME1=会社#\r\nUSER1=taro\r\n[MAIL_REV]\r\nREV_TIMER_MIN=5\r\n"));
    // Only the owner may read it: it holds passwords.
    QCOMPARE(QFile(path).permissions() &
                 (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteGroup | QFileDevice::WriteOther),
             QFileDevice::Permissions());
    QCOMPARE(QFile(path).permissions() & (QFileDevice::ReadOwner | QFileDevice::WriteOwner),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void TestProfileIni::windowsFileSurvivesWriteByteForByte()
{
    const QString path = dir_.filePath(QStringLiteral("windows.ini"));
    const QByteArray head = "; settings\r\n[POP]\r\nPOP_SERVER1=pop.example.jp\r\nUNKNOWN=keep me \r\nNAME1=";
    const QByteArray tail = "\r\n[MAIL_REV]\r\nREV_TIMER_MIN=7\r\n\r\n[EXTRA]\r\nx = y\r\n";
    writeAll(path, head + cp932(QStringLiteral("会社①#")) + tail);
    QCOMPARE(ProfileIni::GetString(QStringLiteral("POP"), QStringLiteral("NAME1"), path), QStringLiteral("会社①#"));

    QVERIFY(ProfileIni::WriteString(QStringLiteral("POP"), QStringLiteral("NAME1"), QStringLiteral("仕事#"), path));
    QCOMPARE(readAll(path), head + cp932(QStringLiteral("仕事#")) + tail);
}

void TestProfileIni::utf8FileStaysUtf8()
{
    const QString path = dir_.filePath(QStringLiteral("linux.ini"));
    writeAll(path, "[POP]\nNAME1=会社#\n");
    QVERIFY(ProfileIni::WriteString(QStringLiteral("POP"), QStringLiteral("NAME2"), QStringLiteral("自宅#"), path));
    QCOMPARE(readAll(path), QByteArray("[POP]\nNAME1=会社#\nNAME2=自宅#\n"));
}

void TestProfileIni::cp932FileRefusesTextItCannotHold()
{
    const QString path = dir_.filePath(QStringLiteral("emoji.ini"));
    const QByteArray before = "[POP]\r\nNAME1=" + cp932(QStringLiteral("会社#")) + "\r\n";
    writeAll(path, before);
    QString error;
    // The first two keys could be stored, but a save is all or nothing.
    QVERIFY(!ProfileIni::WriteStrings(
        {{QStringLiteral("POP"), QStringLiteral("USER2"), QStringLiteral("taro")},
         {QStringLiteral("POP"), QStringLiteral("NAME2"), QStringLiteral("自宅#")},
         {QStringLiteral("POP"), QStringLiteral("PASS2"), QStringLiteral("hunter\U0001F600")}},
        path, &error));
    QVERIFY2(error.contains(QStringLiteral("PASS2")), qPrintable(error));
    QVERIFY(!error.contains(QStringLiteral("hunter")));
    QCOMPARE(readAll(path), before);
    // What CP932 can hold is stored in CP932.
    QVERIFY(ProfileIni::WriteString(QStringLiteral("POP"), QStringLiteral("NAME2"), QStringLiteral("家族①#"), path));
    QCOMPARE(readAll(path), before + "NAME2=" + cp932(QStringLiteral("家族①#")) + "\r\n");
}

void TestProfileIni::utf16FileReadAndWrittenInItsEncoding_data()
{
    QTest::addColumn<bool>("bigEndian");
    QTest::newRow("little-endian (Notepad's Unicode)") << false;
    QTest::newRow("big-endian") << true;
}

void TestProfileIni::utf16FileReadAndWrittenInItsEncoding()
{
    QFETCH(bool, bigEndian);
    const QString path = dir_.filePath(QStringLiteral("unicode.ini"));
    const QString kanji(300, QChar(0x4F1A));
    const QString text = QStringLiteral("[POP]\r\nNAME1=会社#\r\nPASS1=") + kanji +
                         QStringLiteral("\r\n[MAIL_REV]\r\nREV_TIMER_MIN=7\r\n");
    writeAll(path, utf16(text, bigEndian));
    QCOMPARE(ProfileIni::GetString(QStringLiteral("POP"), QStringLiteral("NAME1"), path), QStringLiteral("会社#"));
    QCOMPARE(ProfileIni::GetString(QStringLiteral("MAIL_REV"), QStringLiteral("REV_TIMER_MIN"), path),
             QStringLiteral("7"));
    // The 500-byte buffer counts the CP932 bytes the ANSI functions hand out.
    QCOMPARE(ProfileIni::GetString(QStringLiteral("POP"), QStringLiteral("PASS1"), path), kanji.left(249));

    const QString name = QStringLiteral("家族\U0001F600#");
    QVERIFY(ProfileIni::WriteString(QStringLiteral("POP"), QStringLiteral("NAME2"), name, path));
    QString expected = text;
    expected.replace(QStringLiteral("\r\n[MAIL_REV]"),
                     QStringLiteral("\r\nNAME2=") + name + QStringLiteral("\r\n[MAIL_REV]"));
    QCOMPARE(readAll(path), utf16(expected, bigEndian));
    QCOMPARE(ProfileIni::GetString(QStringLiteral("POP"), QStringLiteral("NAME2"), path), name);
}

void TestProfileIni::noSaveChangesWhatAnotherKeyReads_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    const QString kanji200(200, QChar(0x4F1A));
    const QByteArray cp932File =
        "[POP]\r\nNAME1=" + cp932(QStringLiteral("会社#")) + "\r\nPASS2=" + cp932(kanji200) + "\r\n";
    QTest::newRow("cp932, text it cannot hold") << cp932File << "POP"
                                                << "NAME1" << QStringLiteral("家族\U0001F600#");
    QTest::newRow("cp932, long value") << cp932File << "POP"
                                       << "PASS1" << QString(600, QChar(0x5BB6));
    QTest::newRow("cp932, undecodable bytes") << QByteArray("\x81\r\n[POP]\r\nUSER1=\x82\xa0\x80\r\n") << "POP"
                                              << "USER2"
                                              << "z";
    // Half-width ﾃｩ in CP932 is C3 A9, which is also UTF-8 for é: once the line with あ is
    // gone, nothing shows the file is CP932 any more.
    QTest::newRow("cp932, last CP932-only bytes replaced")
        << QByteArray("[POP]\r\nUSER1=\x82\xa0\r\nNAME1=\xc3\xa9#\r\n") << "POP"
        << "USER1"
        << "v";
    QTest::newRow("utf8, emoji") << ("[POP]\nPASS2=" + kanji200.toUtf8() + "\n") << "POP"
                                 << "NAME1" << QStringLiteral("\U0001F600");
    QTest::newRow("utf16, emoji") << utf16(QStringLiteral("[POP]\r\nPASS2=") + kanji200 + QStringLiteral("\r\n"), false)
                                  << "POP"
                                  << "NAME1" << QStringLiteral("\U0001F600");
    QTest::newRow("ascii, Japanese") << QByteArray("[POP]\r\nPASS1=") + QByteArray(600, 'x') + "\r\n"
                                     << "POP"
                                     << "NAME1"
                                     << "会社#";
    QTest::newRow("repeated section and key")
        << QByteArray("[POP]\nUSER1=a\nUSER1=b\n[MAIL_REV]\nX=1\n[pop]\nUSER2=c\n") << "POP"
        << "USER2"
        << "z";
    QTest::newRow("key added to repeated section")
        << QByteArray("[POP]\nUSER1=a\n[MAIL_REV]\nX=1\n[pop]\nUSER2=c\n") << "pop"
        << "USER3"
        << "z";
    QTest::newRow("no final line break") << QByteArray("[POP]\nUSER1=a") << "POP"
                                         << "USER2"
                                         << "b";
    QTest::newRow("line break in value") << QByteArray("[POP]\nUSER1=a\n") << "POP"
                                         << "PASS1"
                                         << "x\r\nUSER1=evil";
    QTest::newRow("quotes and comments") << QByteArray(";USER1=c\n[POP]\nUSER1=\"q\"\n; NAME1=x\n") << "POP"
                                         << "NAME1"
                                         << "'a'";
    QTest::newRow("keys before any section") << QByteArray("USER1=a\n[POP]\n") << "POP"
                                             << "USER1"
                                             << "b";
}

void TestProfileIni::noSaveChangesWhatAnotherKeyReads()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    const QString path = dir_.filePath(QStringLiteral("others.ini"));
    writeAll(path, file);
    QString text =
        file.startsWith("\xFF\xFE")
            ? QString::fromUtf16(reinterpret_cast<const char16_t*>(file.constData() + 2), (file.size() - 2) / 2)
        : TextCodec::IsValidUtf8(file) ? QString::fromUtf8(file)
                                       : TextCodec::DecodeCp932(file);
    QList<QPair<QString, QString>> keys = keysOf(text);
    keys.append({section, QStringLiteral("USER1")});
    QStringList before;
    for (const auto& [s, k] : keys) before << ProfileIni::GetString(s, k, path);

    ProfileIni::WriteString(section, key, value, path);

    for (qsizetype i = 0; i < keys.size(); ++i) {
        const auto& [s, k] = keys[i];
        if (s.compare(section, Qt::CaseInsensitive) == 0 && k.compare(key, Qt::CaseInsensitive) == 0) continue;
        QVERIFY2(ProfileIni::GetString(s, k, path) == before[i], qPrintable(s + u'/' + k));
    }
}

void TestProfileIni::failedWriteLeavesOldFile_data()
{
    QTest::addColumn<bool>("fullFileSystem");
    QTest::newRow("file size limit") << false;
    QTest::newRow("full file system") << true;
}

void TestProfileIni::failedWriteLeavesOldFile()
{
    QFETCH(bool, fullFileSystem);
    std::unique_ptr<TinyFileSystem> fs;
    QString folder = dir_.path();
    if (fullFileSystem) {
        fs = std::make_unique<TinyFileSystem>(dir_.filePath(QStringLiteral("tiny")));
        if (!fs->mounted()) QSKIP("mounting a file system needs root");
        folder = fs->path();
    }
    const QString path = folder + QStringLiteral("/full.ini");
    const QByteArray before = "[POP]\r\nUSER1=old\r\n";
    writeAll(path, before);
    QString error;
    bool ok = true;
    if (fs) {
        fs->fill();
        ok = ProfileIni::WriteString(QStringLiteral("POP"), QStringLiteral("USER1"), QStringLiteral("new"), path,
                                     &error);
    } else {
        const FileSizeLimit limit(5);
        ok = ProfileIni::WriteString(QStringLiteral("POP"), QStringLiteral("USER1"), QStringLiteral("new"), path,
                                     &error);
    }
    QVERIFY(!ok);
    QVERIFY(!error.isEmpty());
    QCOMPARE(readAll(path), before);
    QCOMPARE(QDir(folder).entryList({QStringLiteral("full.ini*")}, QDir::Files | QDir::Hidden).size(), 1);
}

void TestProfileIni::onlyRegularFilesAreRead_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("FIFO") << "fifo"
                          << "not a regular file";
    QTest::newRow("link to /dev/zero") << "zero"
                                       << "not a regular file";
    QTest::newRow("folder") << "folder"
                            << "is a folder";
    QTest::newRow("mode 000") << "mode000"
                              << "Permission denied";
}

void TestProfileIni::onlyRegularFilesAreRead()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir tmp;
    const QString path = tmp.filePath(QStringLiteral("maildata.ini"));
    if (kind == u"fifo") QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    if (kind == u"zero") QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
    if (kind == u"folder") QVERIFY(QDir().mkpath(path + QStringLiteral("/INI")));
    if (kind == u"mode000") {
        writeAll(path, "[POP]\nUSER1=a\n");
        QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
        // root reads anything: the read then runs as an ordinary user.
        QVERIFY(QFile::setPermissions(tmp.path(), QFileDevice::ExeOther | QFileDevice::ExeOwner |
                                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    }
    const ChildResult child = RunInChild([&] {
        if (kind == u"mode000" && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 9;
#if !defined(__SANITIZE_ADDRESS__)
        // A reader without bound then fails here instead of taking the machine's memory.
        const rlimit memory{rlim_t(1) << 30, rlim_t(1) << 30};
        ::setrlimit(RLIMIT_AS, &memory);
#endif
        int result = 0;
        for (int i = 0; i < 3; ++i)
            if (!ProfileIni::GetString(QStringLiteral("POP"), QStringLiteral("USER1"), path).isEmpty()) result |= 1;
        QString error;
        if (ProfileIni::WriteString(QStringLiteral("POP"), QStringLiteral("USER1"), QStringLiteral("b"), path, &error))
            result |= 2;
        if (!error.contains(reason)) result |= 4;
        return result;
    });
    QVERIFY2(child.exited, "the read blocked or ran without bound");
    QCOMPARE(child.code, 0);
    // One line says why, however often the file is read.
    QCOMPARE(lineCount(child.stderrText), 1);
    QVERIFY2(child.stderrText.contains(QFile::encodeName(path)) && child.stderrText.contains(reason.toUtf8()),
             child.stderrText.constData());
}

void TestProfileIni::readIsCappedWithOneWarning()
{
    const QString path = dir_.filePath(QStringLiteral("huge.ini"));
    QByteArray file = "[POP]\r\nUSER1=first\r\n";
    while (file.size() <= ProfileIni::kMaxFileBytes) file += ";" + QByteArray(1000, 'c') + "\r\n";
    file += "[MAIL_REV]\r\nREV_TIMER_MIN=9\r\n";
    writeAll(path, file);
    const ChildResult child = RunInChild([&] {
        int result = 0;
        if (ProfileIni::GetString(QStringLiteral("POP"), QStringLiteral("USER1"), path) != QStringLiteral("first"))
            result |= 1;
        if (!ProfileIni::GetString(QStringLiteral("MAIL_REV"), QStringLiteral("REV_TIMER_MIN"), path).isEmpty())
            result |= 2;
        // Writing on the part that was read would drop the rest.
        if (ProfileIni::WriteString(QStringLiteral("POP"), QStringLiteral("USER1"), QStringLiteral("x"), path))
            result |= 4;
        return result;
    });
    QVERIFY(child.exited);
    QCOMPARE(child.code, 0);
    QCOMPARE(lineCount(child.stderrText), 1);
    QVERIFY(child.stderrText.contains("huge.ini"));
    QCOMPARE(readAll(path), file);
}

void TestProfileIni::staleTemporariesAreRemoved()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath(QStringLiteral("maildata.ini"));
    writeAll(path, "[POP]\n");
    const QStringList stale{"maildata.ini.Ab3xYz", "maildata.ini.000000"};
    const QStringList kept{"maildata.ini.abc", "maildata.ini.Ab3xYz7", "maildata.ini.bak123x", "other.ini.Ab3xYz",
                           "outside"};
    for (const QString& name : stale + kept) writeAll(tmp.filePath(name), "PASS1=secret\n");
    QVERIFY(QDir().mkpath(tmp.filePath(QStringLiteral("maildata.ini.Folder"))));
    QVERIFY(QFile::link(tmp.filePath(QStringLiteral("outside")), tmp.filePath(QStringLiteral("maildata.ini.Link01"))));

    QCOMPARE(ProfileIni::RemoveStaleTemporaries(path), 2);
    for (const QString& name : stale) QVERIFY2(!QFile::exists(tmp.filePath(name)), qPrintable(name));
    for (const QString& name : kept + QStringList{"maildata.ini", "maildata.ini.Folder", "maildata.ini.Link01"})
        QVERIFY2(QFileInfo(tmp.filePath(name)).exists(), qPrintable(name));
}

void TestProfileIni::writeIntoMissingFolderFails()
{
    // A parent that is a regular file defeats even root.
    const QString blocker = dir_.filePath(QStringLiteral("blocker"));
    writeAll(blocker, "x");
    QString error;
    QVERIFY(!ProfileIni::WriteString(QStringLiteral("POP"), QStringLiteral("USER1"), QStringLiteral("x"),
                                     blocker + QStringLiteral("/maildata.ini"), &error));
    QVERIFY(!error.isEmpty());
}

void TestProfileIni::lineBreakInValueCannotInjectKeys()
{
    const QString path = dir_.filePath(QStringLiteral("inject.ini"));
    QFile::remove(path);
    QVERIFY(ProfileIni::WriteString(QStringLiteral("POP"), QStringLiteral("PASS1"), QStringLiteral("a\r\nUSER1=evil"),
                                    path));
    QCOMPARE(ProfileIni::GetString(QStringLiteral("POP"), QStringLiteral("USER1"), path), QString());
}

QTEST_GUILESS_MAIN(TestProfileIni)
#include "tst_profileini.moc"
