// The date a mail shows, from the raw Date: and Received: values, in the Tokyo zone the
// test environment sets: the zone forms real mailers send and the fallbacks.
#include "maillib/MailDate.h"
#include "maillib/MailReader.h"

#include <QtTest>

#include <string>
#include <vector>

namespace {

std::vector<std::string> ToStd(const QStringList& list)
{
    std::vector<std::string> out;
    for (const auto& s : list) out.push_back(s.toStdString());
    return out;
}

} // namespace

class TestMailDate : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(qgetenv("TZ"), QByteArray("Asia/Tokyo"));
        maillib::InitGMimeOnce();
    }

    void dateHeader_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("shown");
        const QString nine15 = "2024/03/05 09:15:00";
        QTest::newRow("numeric zone +0900") << "Tue, 05 Mar 2024 09:15:00 +0900" << nine15;
        QTest::newRow("numeric zone -0500") << "Mon, 04 Mar 2024 19:15:00 -0500" << nine15;
        QTest::newRow("numeric zone +0530") << "Tue, 05 Mar 2024 05:45:00 +0530" << nine15;
        QTest::newRow("GMT") << "Tue, 05 Mar 2024 00:15:00 GMT" << nine15;
        QTest::newRow("UT") << "Tue, 05 Mar 2024 00:15:00 UT" << nine15;
        QTest::newRow("-0000 (zone unknown)") << "Tue, 05 Mar 2024 00:15:00 -0000" << nine15;
        QTest::newRow("US zone EST") << "Mon, 04 Mar 2024 19:15:00 EST" << nine15;
        QTest::newRow("US zone PDT") << "Mon, 04 Mar 2024 17:15:00 PDT" << nine15;
        QTest::newRow("two-digit year 24") << "Tue, 05 Mar 24 09:15:00 +0900" << nine15;
        QTest::newRow("two-digit year 99") << "Fri, 05 Mar 99 09:15:00 +0900"
                                           << "1999/03/05 09:15:00";
        QTest::newRow("JST read as +0900") << "Tue, 05 Mar 2024 09:15:00 JST" << nine15;
        QTest::newRow("jst in lower case") << "Tue, 05 Mar 2024 09:15:00 jst" << nine15;
        QTest::newRow("JST in a comment") << "Tue, 05 Mar 2024 00:15:00 +0000 (JST)" << nine15;
        QTest::newRow("JST then comment") << "Tue, 05 Mar 2024 09:15:00 JST (Tokyo)" << nine15;
        QTest::newRow("no zone is UTC") << "Tue, 05 Mar 2024 00:15:00" << nine15;
        QTest::newRow("no weekday") << "5 Mar 2024 09:15:00 +0900" << nine15;
        QTest::newRow("folded") << "Tue, 05 Mar 2024\r\n 09:15:00 +0900" << nine15;
        QTest::newRow("blanks around") << "  Tue, 05 Mar 2024 09:15:00 +0900 \t" << nine15;
        QTest::newRow("day boundary") << "Mon, 04 Mar 2024 15:00:00 +0000"
                                      << "2024/03/05 00:00:00";
    }

    void dateHeader()
    {
        QFETCH(QString, date);
        QFETCH(QString, shown);
        // A readable Date: wins over every Received: stamp.
        const std::vector<std::string> received = {"from a by b; Wed, 01 Jan 2025 00:00:00 +0000"};
        QCOMPARE(QString::fromStdString(maillib::MailDateText(date.toStdString(), received)), shown);
    }

    void fallback_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QStringList>("received");
        QTest::addColumn<QString>("shown");
        const QStringList stamps = {"from a by mx2; Tue, 05 Mar 2024 09:16:00 +0900",
                                    "from b by mx1; Tue, 05 Mar 2024 00:20:00 +0000",
                                    "from c by mx0; Tue, 05 Mar 2024 09:14:00 +0900"};
        const QString newest = "2024/03/05 09:20:00";
        QTest::newRow("invalid") << "not a date" << stamps << newest;
        QTest::newRow("ISO 8601") << "2024-03-05T09:15:00+09:00" << stamps << newest;
        QTest::newRow("empty") << "" << stamps << newest;
        QTest::newRow("blanks only") << "   " << stamps << newest;
        QTest::newRow("year before 1900") << "Tue, 05 Mar 1850 09:15:00 +0900" << stamps << newest;
        QTest::newRow("stamp with JST") << "" << QStringList{"from a by b; Tue, 05 Mar 2024 09:15:00 JST"}
                                        << "2024/03/05 09:15:00";
        QTest::newRow("last ';' starts the stamp")
            << "" << QStringList{"from a (x; y) by b; for <u@example.jp>; Tue, 05 Mar 2024 09:15:00 +0900"}
            << "2024/03/05 09:15:00";
        QTest::newRow("stamps without ';' or date skipped")
            << ""
            << QStringList{"from a by b Tue, 05 Mar 2024 10:00:00 +0900", "from a by b; garbage",
                           "from a by b; Tue, 05 Mar 2024 09:15:00 +0900"}
            << "2024/03/05 09:15:00";
        QTest::newRow("no usable stamp") << "" << QStringList{"from a by b", "x; y"} << "";
        QTest::newRow("nothing at all") << "" << QStringList{} << "";
    }

    void fallback()
    {
        QFETCH(QString, date);
        QFETCH(QStringList, received);
        QFETCH(QString, shown);
        QCOMPARE(QString::fromStdString(maillib::MailDateText(date.toStdString(), ToStd(received))), shown);
    }
};

QTEST_GUILESS_MAIN(TestMailDate)
#include "tst_maildate.moc"
