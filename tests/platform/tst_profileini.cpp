#include "ProfileIni.h"
#include "TextCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray cp932(const QString& text)
{
    QByteArray out;
    TextCodec::EncodeCp932(text, out);
    return out;
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
    void textCp932CannotHoldTurnsFileUtf8();
    void failedWriteLeavesOldFile();
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

    QTest::newRow("plain") << QByteArray("[POP]\r\nUSER1=taro\r\n") << "POP" << "USER1" << "taro";
    QTest::newRow("names match case-insensitively") << QByteArray("[pop]\nuser1=taro\n") << "POP" << "USER1" << "taro";
    QTest::newRow("blanks around = and value") << QByteArray("[POP]\n  USER1   =   taro  \n") << "POP" << "USER1" << "taro";
    QTest::newRow("double quotes stripped once") << QByteArray("[POP]\nUSER1=\"\"taro\"\"\n") << "POP" << "USER1" << "\"taro\"";
    QTest::newRow("single quotes stripped") << QByteArray("[POP]\nUSER1='a b'\n") << "POP" << "USER1" << "a b";
    QTest::newRow("unbalanced quote kept") << QByteArray("[POP]\nUSER1=\"abc\n") << "POP" << "USER1" << "\"abc";
    QTest::newRow("first duplicate wins") << QByteArray("[POP]\nUSER1=first\nUSER1=second\n") << "POP" << "USER1" << "first";
    QTest::newRow("key in other section") << QByteArray("[MAIL_REV]\nUSER1=x\n[POP]\n") << "POP" << "USER1" << "";
    QTest::newRow("comment is no key") << QByteArray("[POP]\n;USER1=x\n") << "POP" << "USER1" << "";
    QTest::newRow("missing section") << QByteArray("USER1=x\n") << "POP" << "USER1" << "";
    QTest::newRow("empty value") << QByteArray("[POP]\nUSER1=\n") << "POP" << "USER1" << "";
    QTest::newRow("value keeps inner =") << QByteArray("[POP]\nPASS1=a=b\n") << "POP" << "PASS1" << "a=b";
    QTest::newRow("utf8 with bom") << QByteArray("\xEF\xBB\xBF[POP]\nNAME1=会社#\n") << "POP" << "NAME1" << "会社#";
    QTest::newRow("utf8 without bom") << QByteArray("[POP]\nNAME1=仕事①#\n") << "POP" << "NAME1" << "仕事①#";
    QTest::newRow("cp932 with NEC extension")
        << (QByteArray("[POP]\r\nNAME1=") + cp932(QStringLiteral("仕事①㈱#")) + "\r\n") << "POP" << "NAME1" << "仕事①㈱#";
    QTest::newRow("garbage bytes") << QByteArray("\xff\xfe\x00\x01garbage") << "POP" << "USER1" << "";
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
    QVERIFY(ProfileIni::WriteString(QStringLiteral("MAIL_REV"), QStringLiteral("REV_TIMER_MIN"), QStringLiteral("5"), path));
    QVERIFY(ProfileIni::WriteString(QStringLiteral("POP"), QStringLiteral("USER1"), QStringLiteral("taro"), path));
    // A new file is CP932 with CRLF, as Windows writes it; keys join their own section.
    QCOMPARE(readAll(path), QByteArray("[POP]\r\nNAME1=") + cp932(QStringLiteral("会社#")) +
                                "\r\nUSER1=taro\r\n[MAIL_REV]\r\nREV_TIMER_MIN=5\r\n");
    // Only the owner may read it: it holds passwords.
    QCOMPARE(QFile(path).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteGroup | QFileDevice::WriteOther),
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

void TestProfileIni::textCp932CannotHoldTurnsFileUtf8()
{
    const QString path = dir_.filePath(QStringLiteral("emoji.ini"));
    writeAll(path, "[POP]\r\nNAME1=" + cp932(QStringLiteral("会社#")) + "\r\n");
    const QString name = QStringLiteral("家族\U0001F600#");
    QVERIFY(ProfileIni::WriteString(QStringLiteral("POP"), QStringLiteral("NAME2"), name, path));
    QCOMPARE(ProfileIni::GetString(QStringLiteral("POP"), QStringLiteral("NAME2"), path), name);
    QCOMPARE(ProfileIni::GetString(QStringLiteral("POP"), QStringLiteral("NAME1"), path), QStringLiteral("会社#"));
}

void TestProfileIni::failedWriteLeavesOldFile()
{
    const QString path = dir_.filePath(QStringLiteral("full.ini"));
    const QByteArray before = "[POP]\r\nUSER1=old\r\n";
    writeAll(path, before);
    ProfileIni::SetWriteFaultAfterBytesForTests(5);
    QString error;
    const bool ok = ProfileIni::WriteString(QStringLiteral("POP"), QStringLiteral("USER1"), QStringLiteral("new"), path, &error);
    ProfileIni::SetWriteFaultAfterBytesForTests(-1);
    QVERIFY(!ok);
    QVERIFY(!error.isEmpty());
    QCOMPARE(readAll(path), before);
    QCOMPARE(QDir(dir_.path()).entryList({QStringLiteral("full.ini*")}, QDir::Files | QDir::Hidden).size(), 1);
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
    QVERIFY(ProfileIni::WriteString(QStringLiteral("POP"), QStringLiteral("PASS1"), QStringLiteral("a\r\nUSER1=evil"), path));
    QCOMPARE(ProfileIni::GetString(QStringLiteral("POP"), QStringLiteral("USER1"), path), QString());
}

QTEST_GUILESS_MAIN(TestProfileIni)
#include "tst_profileini.moc"
