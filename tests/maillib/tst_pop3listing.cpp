// The POP3 listing and capability parsers on plain tables of input.
#include "maillib/Pop3Capability.h"
#include "maillib/Pop3Listing.h"

#include <QtTest>

using namespace maillib;

namespace {

QString Joined(const UidList& list)
{
    QStringList out;
    for (size_t i = 0; i < list.size(); ++i)
        out << QString::number(list.Number(i)) + "=" +
                   QString::fromStdString(std::string(list.Id(i))).replace(QChar(0x1f), "^");
    return out.join(' ');
}

} // namespace

class TestPop3Listing : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void listingLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<qulonglong>("number");
        QTest::addColumn<QByteArray>("rest");
        QTest::newRow("plain") << QByteArray("1 abc") << true << 1ULL << QByteArray("abc");
        QTest::newRow("blanks around") << QByteArray("  12   abc def \r") << true << 12ULL << QByteArray("abc def");
        QTest::newRow("nine digits") << QByteArray("999999999 x") << true << 999999999ULL << QByteArray("x");
        QTest::newRow("ten digits") << QByteArray("1000000000 x") << false << 0ULL << QByteArray();
        QTest::newRow("zero") << QByteArray("0 x") << false << 0ULL << QByteArray();
        QTest::newRow("sign") << QByteArray("+1 x") << false << 0ULL << QByteArray();
        QTest::newRow("no id") << QByteArray("1 ") << false << 0ULL << QByteArray();
        QTest::newRow("number only") << QByteArray("1") << false << 0ULL << QByteArray();
        QTest::newRow("tab instead of space") << QByteArray("1\tabc") << false << 0ULL << QByteArray();
        QTest::newRow("status line") << QByteArray("+OK 2 messages") << false << 0ULL << QByteArray();
        QTest::newRow("terminator") << QByteArray(".") << false << 0ULL << QByteArray();
        QTest::newRow("empty") << QByteArray() << false << 0ULL << QByteArray();
    }

    void listingLine()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, ok);
        QFETCH(qulonglong, number);
        QFETCH(QByteArray, rest);
        unsigned long n = 0;
        std::string_view r;
        QCOMPARE(ParseListingLine(std::string_view(line.constData(), static_cast<size_t>(line.size())), n, r), ok);
        if (ok) {
            QCOMPARE(qulonglong(n), number);
            QCOMPARE(QByteArray(r.data(), static_cast<qsizetype>(r.size())), rest);
        }
    }

    void uidListing_data()
    {
        QTest::addColumn<QByteArray>("listing");
        QTest::addColumn<QString>("ids");
        QTest::newRow("in server order") << QByteArray("2 b\r\n1 a\r\n") << "2=b 1=a";
        QTest::newRow("junk lines skipped") << QByteArray("x\r\n1 a\r\n\r\n 2 b \r\n") << "1=a 2=b";
        QTest::newRow("number again: first stays") << QByteArray("1 a\r\n1 b\r\n2 c\r\n") << "1=a 2=c";
        QTest::newRow("id again: suffixed") << QByteArray("1 a\r\n2 a\r\n3 a\r\n4 b\r\n") << "1=a 2=a^2 3=a^3 4=b";
        QTest::newRow("suffixed id meets the server's own") << QByteArray("1 a\r\n2 a\r\n3 a\x1f"
                                                                          "2\r\n")
                                                            << "1=a 2=a^2 3=a^2^2";
        QTest::newRow("found by fuzzing") << QByteArray("32 c\n223 c\n2 c\n3332 c\x1f"
                                                        "2\n")
                                          << "32=c 223=c^2 2=c^3 3332=c^2^2";
        QTest::newRow("LF only, no final line end") << QByteArray("1 a\n2 b") << "1=a 2=b";
        QTest::newRow("empty") << QByteArray() << "";
    }

    void uidListing()
    {
        QFETCH(QByteArray, listing);
        QFETCH(QString, ids);
        // Fed in every split of the stream: a line cut between two reads is still one line.
        for (qsizetype cut = 0; cut <= listing.size(); ++cut) {
            UidList list;
            LineSplitter lines([&](std::string_view l) { AddUidlLine(list, l); });
            lines.Feed(std::string_view(listing.constData(), static_cast<size_t>(cut)));
            lines.Feed(std::string_view(listing.constData() + cut, static_cast<size_t>(listing.size() - cut)));
            lines.Finish();
            list.Finish();
            QCOMPARE(Joined(list), ids);
        }
        // Newest first, the same from a copy as in place, whatever the window.
        UidList list;
        LineSplitter lines([&](std::string_view l) { AddUidlLine(list, l); });
        lines.Feed(std::string_view(listing.constData(), static_cast<size_t>(listing.size())));
        lines.Finish();
        list.Finish();
        for (size_t window : {size_t(1), list.size(), list.size() + 5}) {
            UidList spent = list;
            const UidList newest = std::move(spent).Newest(window);
            QCOMPARE(Joined(newest), Joined(list.Newest(window)));
            QCOMPARE(newest.size(), std::min(window, list.size()));
            for (size_t i = 0; i < newest.size(); ++i) {
                QVERIFY(i == 0 || newest.Number(i) < newest.Number(i - 1));
                QVERIFY(newest.Contains(newest.Id(i)));
            }
        }
    }

    void longUidsAreKeyedByHash()
    {
        const std::string a(kMaxUidLength + 1, 'a'), b = std::string(kMaxUidLength + 1, 'a') + "b";
        UidList list;
        AddUidlLine(list, "1 " + a);
        AddUidlLine(list, "2 " + b);
        AddUidlLine(list, "3 " + std::string(kMaxUidLength, 'c'));
        list.Finish();
        QCOMPARE(list.size(), size_t(3));
        QVERIFY(list.Id(0).substr(0, 2) == "L:");
        QVERIFY(list.Id(0).size() < 100);
        QVERIFY(list.Id(0) != list.Id(1));
        QCOMPARE(list.Id(2).size(), kMaxUidLength); // at the limit it is kept as sent
        QVERIFY(list.Contains(list.Id(0)));
        QVERIFY(!list.Contains(a));
    }

    void containsAfterFinish()
    {
        UidList list;
        for (int i = 1; i <= 5000; ++i)
            list.Add(static_cast<unsigned long>(i), "id-" + std::to_string(i % 2500)); // each id twice
        list.Finish();
        QCOMPARE(list.size(), size_t(5000));
        QVERIFY(list.Contains("id-7"));
        QVERIFY(list.Contains("id-7\x1f"
                              "2"));
        QVERIFY(!list.Contains("id-7\x1f"
                               "3"));
        QVERIFY(!list.Contains("id-2500"));
    }

    void sizes()
    {
        SizeList s;
        for (const char* line : {"2 300", "1 abc", "3 12 extra", "2 999", "x 1"}) s.AddLine(line);
        s.Finish();
        QVERIFY(s.Listed(1) && s.Listed(2) && s.Listed(3));
        QVERIFY(!s.Listed(4));
        QCOMPARE(s.SizeOf(1), SizeList::kUnknown);
        QCOMPARE(s.SizeOf(2), 300UL); // the first line for a number counts
        QCOMPARE(s.SizeOf(3), 12UL);
        QCOMPARE(s.SizeOf(4), SizeList::kUnknown);
    }

    void loginDelay_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("seconds"); // -1: not a LOGIN-DELAY line
        QTest::newRow("figure") << QByteArray("LOGIN-DELAY 900") << 900;
        QTest::newRow("with scope word") << QByteArray("LOGIN-DELAY 900 USER") << 900;
        QTest::newRow("lower case, CRLF") << QByteArray("login-delay 60\r\n") << 60;
        QTest::newRow("capped at an hour") << QByteArray("LOGIN-DELAY 86400") << 3600;
        QTest::newRow("no figure") << QByteArray("LOGIN-DELAY") << -1;
        QTest::newRow("word only") << QByteArray("LOGIN-DELAY USER") << -1;
        QTest::newRow("negative") << QByteArray("LOGIN-DELAY -5") << -1;
        QTest::newRow("two words") << QByteArray("LOGIN-DELAY 900 USER X") << -1;
        QTest::newRow("huge") << QByteArray("LOGIN-DELAY 99999999999999999999") << -1;
        QTest::newRow("other capability") << QByteArray("EXPIRE 30") << -1;
    }

    void loginDelay()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, seconds);
        auto got = LoginDelayFromCapability(std::string_view(line.constData(), static_cast<size_t>(line.size())));
        QCOMPARE(got ? int(*got) : -1, seconds);
    }
};

QTEST_GUILESS_MAIN(TestPop3Listing)
#include "tst_pop3listing.moc"
