// The iconv wrapper both the mail library and the settings files convert through.
#include "base/IconvConverter.h"

#include <QtTest>

#include <string>

using fw::IconvConverter;
using OnInvalid = fw::IconvConverter::OnInvalid;

class TestIconvConverter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void convert_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<bool>("replace");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("output");
        const QByteArray sjisA("\x82\xa0", 2); // あ
        QTest::newRow("CP932") << QByteArray("CP932") << sjisA + "x" << false << true << "あx";
        QTest::newRow("ISO-2022-JP, stateful")
            << QByteArray("ISO-2022-JP") << QByteArray("\x1b$B$\"\x1b(B!") << false << true << "あ!";
        QTest::newRow("empty") << QByteArray("CP932") << QByteArray() << false << true << "";
        QTest::newRow("invalid byte, stop") << QByteArray("ASCII") << QByteArray("a\x80z") << false << false << "a";
        QTest::newRow("invalid byte, replace")
            << QByteArray("ASCII") << QByteArray("a\x80z") << true << true << "a\uFFFDz";
        QTest::newRow("several invalid bytes, replace")
            << QByteArray("ASCII") << QByteArray("\x80\x81z\xff") << true << true << "\uFFFD\uFFFDz\uFFFD";
        QTest::newRow("cut off at the end, stop")
            << QByteArray("UTF-8") << QByteArray("a\xe3\x81") << false << false << "a";
        // Each byte of the unfinished sequence is replaced on its own.
        QTest::newRow("cut off at the end, replace")
            << QByteArray("UTF-8") << QByteArray("a\xe3\x81") << true << true << "a\uFFFD\uFFFD";
    }

    void convert()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, input);
        QFETCH(bool, replace);
        QFETCH(bool, ok);
        QFETCH(QString, output);
        IconvConverter cv("UTF-8", from.constData());
        QVERIFY(cv.valid());
        std::string out = "<"; // appended to, never cleared
        QCOMPARE(cv.Convert(std::string_view(input.constData(), static_cast<size_t>(input.size())), out,
                            replace ? OnInvalid::Replace : OnInvalid::Stop),
                 ok);
        QCOMPARE(QString::fromStdString(out), "<" + output);
    }

    void outputLargerThanOneBufferIsComplete()
    {
        // 12,000 two-byte characters become 36,000 bytes of UTF-8: many rounds of a full output buffer.
        std::string sjis;
        QString want;
        for (int i = 0; i < 12000; ++i) {
            sjis += "\x82\xa0";
            want += QString::fromUtf8("あ");
        }
        sjis += "\x80"; // an invalid byte after the long run is still found
        IconvConverter cv("UTF-8", "CP932");
        std::string out;
        QVERIFY(cv.Convert(sjis, out, OnInvalid::Replace));
        QCOMPARE(QString::fromStdString(out), want + QChar(0xFFFD));
    }

    void unknownCharsetIsInvalid()
    {
        IconvConverter cv("UTF-8", "NO-SUCH-CHARSET");
        QVERIFY(!cv.valid());
        std::string out;
        QVERIFY(!cv.Convert("abc", out, OnInvalid::Replace));
        QVERIFY(out.empty());
    }
};

QTEST_GUILESS_MAIN(TestIconvConverter)
#include "tst_iconvconverter.moc"
