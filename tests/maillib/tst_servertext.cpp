// What a server says on its way to the status, the log, stderr and fwmail's output: no
// control that breaks, reorders or hides the line, and no form of the password it was sent.
#include "tests/maillib/FakePop3Server.h"
#include "tests/maillib/TestSupport.h"

#include <QProcess>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

const std::string kUser = "u@example.jp";
const std::string kPassword = "secret";

std::string Lower(std::string s)
{
    for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return s;
}

std::string Base64(const std::string& bytes)
{
    const QByteArray b = QByteArray::fromStdString(bytes).toBase64(QByteArray::OmitTrailingEquals);
    return b.toStdString();
}

// What must never be seen, whatever the row: the hidden controls, and the password in any
// form the client sent it in (compared in lower case, as a server may change the case).
const std::vector<std::string>& Forbidden()
{
    static const std::vector<std::string> all = {"\x1b",
                                                 "\x07",
                                                 "\xc2\x9b",
                                                 "\u202e",
                                                 "\u202c",
                                                 "\u200f",
                                                 "\u061c",
                                                 "\ufeff",
                                                 "\u2028",
                                                 "\u2029",
                                                 Lower(kPassword),
                                                 Lower(Base64(kPassword)),
                                                 Lower(Base64(std::string(1, '\0') + kUser + '\0' + kPassword))};
    return all;
}

QString Shown(const std::string& text)
{
    QString out;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        out += u >= 0x20 && u < 0x7f ? QString(QChar(c)) : QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
    }
    return out;
}

void VerifyClean(const std::string& where, const std::string& text)
{
    const std::string lower = Lower(text);
    for (const std::string& bad : Forbidden())
        QVERIFY2(lower.find(bad) == std::string::npos,
                 qPrintable(QString::fromStdString(where) + QStringLiteral(": ") + Shown(text)));
}

} // namespace

class TestServerText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        maillib::internal::Limits l;
        l.connect = 1000ms;
        l.total = 1500ms;
        StartFresh(l, dir_);
    }

    void refusalReachesNobodyWhole_data()
    {
        QTest::addColumn<QByteArray>("said"); // what the server says after "-ERR " to PASS
        QTest::addColumn<bool>("masked");     // a password form in it must show as ****
        const std::string nul(1, '\0');
        QTest::newRow("terminal escapes") << QByteArray("\xc2\x9b"
                                                        "2J\x1b]0;owned\x07 no")
                                          << false;
        QTest::newRow("right-to-left override") << QByteArray("invoice\u202Efdp.exe\u202C sent") << false;
        QTest::newRow("marks and byte order mark") << QByteArray("a\u200Fb\u061Cc\uFEFFd") << false;
        QTest::newRow("line and paragraph separators") << QByteArray("one\u2028two\u2029three") << false;
        QTest::newRow("password as sent") << QByteArray("bad password secret") << true;
        QTest::newRow("password in upper case") << QByteArray("BAD PASSWORD SECRET") << true;
        QTest::newRow("password in base64") << QByteArray::fromStdString("bad " + Base64(kPassword) + "=") << true;
        QTest::newRow("AUTH PLAIN blob") << QByteArray::fromStdString("bad " + Base64(nul + kUser + nul + kPassword) +
                                                                      "==")
                                         << true;
        QTest::newRow("password split by a mark") << QByteArray("bad se\u200Fcret") << true;
    }

    void refusalReachesNobodyWhole()
    {
        QFETCH(QByteArray, said);
        QFETCH(bool, masked);
        FakePop3Server s;
        s.password = "other";
        const std::string reply = "-ERR " + said.toStdString() + "\r\n";
        s.hook = [reply](const std::string& cmd, int) -> std::optional<FakeReply> {
            if (cmd.rfind("PASS", 0) == 0) return FakeReply{reply};
            return std::nullopt;
        };
        QVERIFY(s.start());

        StderrCapture err;
        std::string server = Plain(s), user = kUser, password = kPassword, mode = "SAVEALL",
                    folder = dir_.path().toStdString();
        maillib::AccountStatus status;
        QVERIFY(!maillib::RcvMail(server, user, password, mode, folder, status));
        const std::string log = err.text();
        QVERIFY2(log.find("login refused") != std::string::npos, log.c_str());
        VerifyClean("status", status.text);
        VerifyClean("log", log);
        if (masked) QVERIFY2(status.text.find("****") != std::string::npos, status.text.c_str());

        // fwmail says the same to a terminal.
        QProcess fwmail;
        fwmail.start(qEnvironmentVariable("FW_FWMAIL"),
                     {"check", "--password-stdin", QString::fromStdString(server), QString::fromStdString(kUser)});
        QVERIFY(fwmail.waitForStarted());
        fwmail.write(QByteArray::fromStdString(kPassword) + '\n');
        fwmail.closeWriteChannel();
        QVERIFY(fwmail.waitForFinished(10000));
        QCOMPARE(fwmail.exitCode(), 1);
        const std::string out = (fwmail.readAllStandardOutput() + fwmail.readAllStandardError()).toStdString();
        QVERIFY2(out.find("login refused") != std::string::npos, out.c_str());
        VerifyClean("fwmail", out);
    }

private:
    QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(TestServerText)
#include "tst_servertext.moc"
