// The settings dialog's checks on what the boxes hold, without the dialog.
#include "settings/SettingsValidation.h"

#include <QTest>

using SettingsValidation::Verdict;

Q_DECLARE_METATYPE(SettingsValidation::Verdict)

class TestSettingsValidation : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void check_data();
    void check();
};

void TestSettingsValidation::check_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("interval");
    QTest::addColumn<QString>("display");
    QTest::addColumn<bool>("autoClose");
    QTest::addColumn<Verdict>("verdict");
    QTest::addColumn<QString>("written"); // the display time to write, when Ok

    QTest::newRow("all fine") << "s"
                              << "30"
                              << "10" << true << Verdict::Ok << "10";
    QTest::newRow("server empty") << ""
                                  << "30"
                                  << "10" << true << Verdict::Blank << "";
    QTest::newRow("server of spaces is not blank") << "  "
                                                   << "30"
                                                   << "10" << true << Verdict::Ok << "10";
    QTest::newRow("interval empty") << "s"
                                    << ""
                                    << "10" << true << Verdict::Blank << "";
    QTest::newRow("display empty, auto-close on") << "s"
                                                  << "30"
                                                  << "" << true << Verdict::Blank << "";
    // With auto-close off an empty display time is not blank, but it is still no time.
    QTest::newRow("display empty, auto-close off") << "s"
                                                   << "30"
                                                   << "" << false << Verdict::DisplayTooShort << "";
    QTest::newRow("blank before a bad interval") << ""
                                                 << "4"
                                                 << "0" << true << Verdict::Blank << "";
    QTest::newRow("interval 4") << "s"
                                << "4"
                                << "1" << true << Verdict::IntervalTooShort << "";
    QTest::newRow("interval 4.9") << "s"
                                  << "4.9"
                                  << "1" << true << Verdict::IntervalTooShort << "";
    QTest::newRow("interval abc") << "s"
                                  << "abc"
                                  << "1" << true << Verdict::IntervalTooShort << "";
    QTest::newRow("interval -5") << "s"
                                 << "-5"
                                 << "1" << true << Verdict::IntervalTooShort << "";
    QTest::newRow("interval 5x reads 5") << "s"
                                         << " 5x"
                                         << "3" << true << Verdict::Ok << "3";
    QTest::newRow("interval 32767") << "s"
                                    << "32767"
                                    << "32765" << true << Verdict::Ok << "32765";
    QTest::newRow("interval 32767.5") << "s"
                                      << "32767.5"
                                      << "10" << true << Verdict::IntervalTooLong << "";
    QTest::newRow("interval 40000") << "s"
                                    << "40000"
                                    << "10" << true << Verdict::IntervalTooLong << "";
    QTest::newRow("bad interval before a bad display") << "s"
                                                       << "40000"
                                                       << "0" << true << Verdict::IntervalTooLong << "";
    QTest::newRow("display 0") << "s"
                               << "30"
                               << "0" << true << Verdict::DisplayTooShort << "";
    QTest::newRow("display 0.5") << "s"
                                 << "30"
                                 << "0.5" << true << Verdict::DisplayTooShort << "";
    QTest::newRow("display 32767 is in range, then capped") << "s"
                                                            << "32767"
                                                            << "32767" << true << Verdict::Ok << "32765";
    QTest::newRow("display 32767.5") << "s"
                                     << "30"
                                     << "32767.5" << true << Verdict::DisplayTooLong << "";
    QTest::newRow("display 32768") << "s"
                                   << "30"
                                   << "32768" << false << Verdict::DisplayTooLong << "";
    QTest::newRow("display 05 kept as typed") << "s"
                                              << "30"
                                              << "05" << true << Verdict::Ok << "05";
    QTest::newRow("display capped under the interval") << "s"
                                                       << "5"
                                                       << "10" << true << Verdict::Ok << "3";
    QTest::newRow("display equal to interval - 2 kept") << "s"
                                                        << "8"
                                                        << "6" << true << Verdict::Ok << "6";
    QTest::newRow("fractional cap") << "s"
                                    << "7.5"
                                    << "9" << false << Verdict::Ok << "5.5";
}

void TestSettingsValidation::check()
{
    QFETCH(QString, server);
    QFETCH(QString, interval);
    QFETCH(QString, display);
    QFETCH(bool, autoClose);
    QFETCH(Verdict, verdict);
    QFETCH(QString, written);
    const SettingsValidation::Result r =
        SettingsValidation::Check({server, QStringLiteral("u"), QStringLiteral("p"), interval, display, autoClose});
    QCOMPARE(r.verdict, verdict);
    if (verdict == Verdict::Ok) QCOMPARE(r.display, written);
}

QTEST_GUILESS_MAIN(TestSettingsValidation)
#include "tst_settings_validation.moc"
