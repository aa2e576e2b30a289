// RcvMail and fwmail against a real dovecot on loopback (tests/fixtures/dovecot-fixture).
#include "maillib/MailLibInternal.h"
#include "tests/maillib/TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

namespace {

QString Env(const char* name) { return qEnvironmentVariable(name); }

QMap<QString, QString> FixtureEnv()
{
    QMap<QString, QString> env;
    QFile f(Env("FW_DOVECOT_STATE") + "/env");
    if (!f.open(QIODevice::ReadOnly)) return env;
    for (const QString& line : QString::fromUtf8(f.readAll()).split('\n')) {
        int eq = line.indexOf('=');
        if (eq > 0) env[line.left(eq)] = line.mid(eq + 1);
    }
    return env;
}

} // namespace

class TestPop3Dovecot : public QObject {
    Q_OBJECT

private:
    QMap<QString, QString> env_;
    QTemporaryDir dir_;

    std::string pop3s() const { return "pop3s://127.0.0.1:" + env_["POP3S_PORT"].toStdString(); }
    std::string stls() const { return "localhost:" + env_["POP3_PORT"].toStdString(); }

    void deliver(const QString& user, const QStringList& files)
    {
        QProcess p;
        p.start(Env("FW_DOVECOT_FIXTURE"), QStringList{"deliver", Env("FW_DOVECOT_STATE"), user} + files);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
    }

    QStringList demoMails() const
    {
        QDir d(Env("FW_DEMO_MAILS"));
        QStringList out;
        for (const auto& f : d.entryList({"*.eml"}, QDir::Files, QDir::Name)) out << d.filePath(f);
        return out;
    }

    // The counters dovecot logged for the user's last session, once it has logged them.
    QString lastLogout(const QString& user, int sessionsBefore, int* sessions = nullptr)
    {
        QRegularExpression re("pop3\\(" + user + "\\).*Logged out (in=.*)$", QRegularExpression::MultilineOption);
        for (int i = 0; i < 100; ++i) {
            QFile f(env_["LOG_FILE"]);
            if (f.open(QIODevice::ReadOnly)) {
                QString text = QString::fromUtf8(f.readAll());
                QString last;
                int n = 0;
                for (auto it = re.globalMatch(text); it.hasNext();) {
                    last = it.next().captured(1);
                    ++n;
                }
                if (n > sessionsBefore) {
                    if (sessions) *sessions = n;
                    return last;
                }
            }
            QThread::msleep(20);
        }
        return {};
    }

    int sessionCount(const QString& user)
    {
        int n = 0;
        QString s = lastLogout(user, -1, &n);
        return s.isEmpty() ? 0 : n;
    }

    void clearFolder()
    {
        for (const auto& f : FilesIn(dir_.path())) QFile::remove(dir_.filePath(f));
    }

private Q_SLOTS:
    void initTestCase()
    {
        env_ = FixtureEnv();
        QVERIFY2(!env_.isEmpty(), "the dovecot fixture is not running (see maillib_dovecot_start)");
        QVERIFY(QDir(dir_.path()).mkpath("INI"));
        QVERIFY(QFile::copy(env_["CA_FILE"], dir_.filePath("INI/cacert.pem")));
        maillib::internal::ResetState();
    }

    void init() { clearFolder(); }

    void firstSteadyAndNewMail()
    {
        deliver("user1", demoMails());
        int before = sessionCount("user1");
        auto refs = Receive(pop3s(), "user1", "pass1", dir_.path());
        QVERIFY(refs);
        QCOMPARE(refs->size(), size_t(demoMails().size()));
        QStringList subjects;
        for (const auto& r : *refs) {
            auto f = Read(r);
            QVERIFY(f);
            subjects << QString::fromStdString((*f)[0]);
            QVERIFY(QFile::remove(QString::fromStdString(r)));
        }
        QVERIFY(subjects.contains("subject: 来週の定例会議について"));
        QVERIFY(subjects.contains("subject: ①請求書送付のご案内（第Ⅲ四半期）"));
        QString first = lastLogout("user1", before);
        QVERIFY2(first.contains(QString("top=%1/").arg(refs->size())), qPrintable(first));
        QVERIFY2(first.contains("retr=0/0") && first.contains("del=0/"), qPrintable(first));

        // Unchanged mailbox: no message content crosses the wire.
        auto again = Receive(pop3s(), "user1", "pass1", dir_.path());
        QVERIFY(again);
        QCOMPARE(*again, *refs);
        QString steady = lastLogout("user1", before + 1);
        QVERIFY2(steady.contains("top=0/0 retr=0/0 del=0/"), qPrintable(steady));
        clearFolder();

        // A new mail is picked up, and only it is fetched.
        deliver("user1", {demoMails().first()});
        auto third = Receive(pop3s(), "user1", "pass1", dir_.path());
        QVERIFY(third);
        QCOMPARE(third->size(), refs->size() + 1);
        QString newMail = lastLogout("user1", before + 2);
        QVERIFY2(newMail.contains("top=1/") && newMail.contains("retr=0/0 del=0/"), qPrintable(newMail));
    }

    void stlsListener()
    {
        deliver("user2", demoMails().mid(0, 2));
        auto refs = Receive(stls(), "user2", "pass2", dir_.path());
        QVERIFY(refs);
        QCOMPARE(refs->size(), size_t(2));
    }

    void failuresAreClean_data()
    {
        QTest::addColumn<QString>("ca"); // "", "other"
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("goodFirst"); // a good check, then cacert.pem rewritten as the row has it
        using K = maillib::AccountStatus::Kind;
        QTest::newRow("no CA file") << ""
                                    << "pass3" << int(K::CertificateNotTrusted) << false;
        QTest::newRow("no CA file, removed after a good check") << ""
                                                                << "pass3" << int(K::CertificateNotTrusted) << true;
        QTest::newRow("wrong CA") << "other"
                                  << "pass3" << int(K::CertificateNotTrusted) << false;
        QTest::newRow("wrong CA, rewritten after a good check") << "other"
                                                                << "pass3" << int(K::CertificateNotTrusted) << true;
        QTest::newRow("wrong password") << "right"
                                        << "wrong" << int(K::LoginRefused) << false;
    }

    void failuresAreClean()
    {
        QFETCH(QString, ca);
        QFETCH(QString, password);
        QFETCH(int, kind);
        QFETCH(bool, goodFirst);
        maillib::internal::ResetState();
        deliver("user3", demoMails().mid(0, 1));
        QTemporaryDir folder;
        QDir(folder.path()).mkpath("INI");
        const QString caCopy = folder.filePath("INI/cacert.pem");
        // Rewritten in place, as an editor would: the same file, other certificates.
        auto trust = [&](const QString& which) {
            QFile from(which == "other" ? env_["OTHER_CA_FILE"] : env_["CA_FILE"]), to(caCopy);
            QVERIFY(from.open(QIODevice::ReadOnly) && to.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QVERIFY(to.write(from.readAll()) > 0);
        };
        // What the first check keeps must not carry the next one past its certificate check.
        auto goodCheck = [&] {
            trust("right");
            auto good = Receive(pop3s(), "user3", "pass3", folder.path());
            QVERIFY(good);
            for (const auto& path : *good) QFile::remove(QString::fromStdString(path));
            if (ca.isEmpty()) QVERIFY(QFile::remove(caCopy));
            else trust(ca);
        };
        if (goodFirst) goodCheck();
        else if (!ca.isEmpty()) trust(ca);
        StderrCapture err;
        auto refs = Receive(pop3s(), "user3", password.toStdString(), folder.path());
        std::string log = err.text();
        QVERIFY(!refs);
        QCOMPARE(FilesIn(folder.path()), QStringList());
        QVERIFY2(log.find(pop3s()) != std::string::npos, log.c_str());
        QVERIFY(log.find(password.toStdString()) == std::string::npos);

        // The same check with its status: the reason, as a kind.
        maillib::internal::ResetState();
        if (goodFirst) goodCheck();
        std::string server = pop3s(), user = "user3", pw = password.toStdString(), mode = "SAVEALL",
                    dir = folder.path().toStdString();
        maillib::AccountStatus status;
        StderrCapture again;
        QVERIFY(!maillib::RcvMail(server, user, pw, mode, dir, status));
        QCOMPARE(int(status.kind), kind);
        QVERIFY2(status.text.find(pw) == std::string::npos, status.text.c_str());
        QCOMPARE(FilesIn(folder.path()), QStringList());
    }

    void fwmailCheck()
    {
        deliver("user4", demoMails());
        QProcess p;
        p.start(Env("FW_FWMAIL"), {"check", "--json", "--password-stdin", "--cafile", env_["CA_FILE"],
                                   QString::fromStdString(pop3s()), "user4"});
        p.write("pass4\n");
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        auto doc = QJsonDocument::fromJson(p.readAllStandardOutput());
        QVERIFY(doc.isArray());
        QCOMPARE(doc.array().size(), demoMails().size());
        // Newest first: the first demo mail delivered comes last.
        QJsonObject first = doc.array().last().toObject();
        QCOMPARE(first["subject"].toString(), QString("来週の定例会議について"));
        QCOMPARE(first["from"].toString(), QString("山田 太郎 <taro.yamada@example.co.jp>"));
        QCOMPARE(first["date"].toString(), QString("2024/03/05 09:15:00"));
        QVERIFY(first["body"].toString().contains("第2会議室"));
        QVERIFY(first.contains("nofile"));
    }

    void fwmailCheckAccountFromSettings_data()
    {
        QTest::addColumn<QString>("layout"); // "folder": --folder DIR; "xdg": found under $XDG_DATA_HOME
        QTest::addColumn<bool>("withCa");
        QTest::addColumn<QString>("account");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("errorHas");
        QTest::newRow("--folder") << "folder" << true << "2" << 0 << "";
        QTest::newRow("program folder found as the resident finds it") << "xdg" << true << "2" << 0 << "";
        QTest::newRow("no cacert.pem: not trusted") << "folder" << false << "2" << 1 << "not trusted";
        QTest::newRow("account not configured") << "folder" << true << "3" << 1 << "account 3 is not configured";
        QTest::newRow("no such account") << "folder" << true << "7" << 2 << "1 to 5";
    }

    void fwmailCheckAccountFromSettings()
    {
        QFETCH(QString, layout);
        QFETCH(bool, withCa);
        QFETCH(QString, account);
        QFETCH(int, code);
        QFETCH(QString, errorHas);
        static bool delivered = false;
        if (!delivered) {
            deliver("user5", demoMails().mid(0, 2));
            delivered = true;
        }
        QTemporaryDir home;
        const QString program = layout == "xdg" ? home.filePath("ferrowick") : home.path();
        QVERIFY(QDir(program).mkpath("maildata/INI"));
        QFile ini(program + "/maildata/INI/maildata.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(QString("[POP]\r\nPOP_SERVER2=%1\r\nUSER2=user5\r\nPASS2=pass5\r\nNAME2=test#\r\n")
                      .arg(QString::fromStdString(pop3s()))
                      .toUtf8());
        ini.close();
        if (withCa) QVERIFY(QFile::copy(env_["CA_FILE"], program + "/maildata/INI/cacert.pem"));

        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", home.path());
        p.setProcessEnvironment(env);
        QStringList args{"check", "--json", "--account", account};
        if (layout == "folder") args << "--folder" << program;
        p.start(Env("FW_FWMAIL"), args);
        QVERIFY(p.waitForFinished(30000));
        const QByteArray out = p.readAllStandardOutput(), err = p.readAllStandardError();
        QCOMPARE(p.exitCode(), code);
        QVERIFY2(!out.contains("pass5") && !err.contains("pass5"), err.constData());
        QVERIFY2(err.contains(errorHas.toUtf8()), err.constData());
        if (code == 0) {
            auto doc = QJsonDocument::fromJson(out);
            QVERIFY(doc.isArray());
            QCOMPARE(doc.array().size(), 2);
            QCOMPARE(doc.array().last().toObject()["subject"].toString(), QString("来週の定例会議について"));
        }
    }

    void fwmailPrintsNoControlCharacters_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("text") << QStringList();
        QTest::newRow("json") << QStringList{"--json"};
    }

    void fwmailPrintsNoControlCharacters()
    {
        QFETCH(QStringList, options);
        // U+009B (a terminal's CSI) and ESC in an encoded subject, a sender name and the body.
        const QByteArray csi = "\xc2\x9b";
        QTemporaryDir tmp;
        const QString file = tmp.filePath("evil.eml");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("From: =?UTF-8?B?" + QByteArray("Eve" + csi + "31m").toBase64() +
                "?= <eve@example.com>\r\n"
                "Subject: =?UTF-8?B?" +
                QByteArray("pay " + csi + "2J\x1b[1mnow").toBase64() +
                "?=\r\n"
                "Content-Type: text/plain; charset=utf-8\r\n\r\nline " +
                csi + "0m one\r\nline two\r\n");
        f.close();
        QProcess p;
        p.start(Env("FW_FWMAIL"), QStringList{"read"} + options + QStringList{file});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        const QByteArray out = p.readAllStandardOutput();
        QVERIFY2(out.contains("pay 2J[1mnow"), out.constData());
        QVERIFY2(out.contains("Eve31m <eve@example.com>"), out.constData());
        QVERIFY2(out.contains("line 0m one"), out.constData());
        for (qsizetype i = 0; i < out.size(); ++i) {
            const auto c = static_cast<unsigned char>(out[i]);
            QVERIFY2(c >= 0x20 || c == '\n' || c == '\t', out.constData());
            QVERIFY2(!(c == 0xC2 && i + 1 < out.size() && static_cast<unsigned char>(out[i + 1]) <= 0x9F),
                     out.constData());
        }
    }

    void fwmailExitCodes_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("code");
        QTest::newRow("wrong password") << QStringList{"check", "--password-stdin", "--cafile", "CA", "SERVER", "user5"}
                                        << QByteArray("nope\n") << 1;
        QTest::newRow("password as argument") << QStringList{"check", "SERVER", "user5", "pass5"} << QByteArray() << 2;
        QTest::newRow("unknown command") << QStringList{"fetch"} << QByteArray() << 2;
        QTest::newRow("read missing file") << QStringList{"read", "/nonexistent.eml"} << QByteArray() << 1;
        // Asked for, the usage goes to stdout: `fwmail --help | less` shows it.
        QTest::newRow("--help") << QStringList{"--help"} << QByteArray() << 0;
        QTest::newRow("-h") << QStringList{"-h"} << QByteArray() << 0;
    }

    void fwmailExitCodes()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, input);
        QFETCH(int, code);
        args.replaceInStrings("SERVER", QString::fromStdString(pop3s()));
        args.replaceInStrings(QRegularExpression("^CA$"), env_["CA_FILE"]);
        QProcess p;
        p.start(Env("FW_FWMAIL"), args);
        p.write(input);
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), code);
        const QByteArray err = p.readAllStandardError();
        QVERIFY(!err.contains("nope"));
        if (code == 0) {
            QVERIFY(p.readAllStandardOutput().startsWith("usage: fwmail"));
            QCOMPARE(err, QByteArray());
        }
    }
};

QTEST_GUILESS_MAIN(TestPop3Dovecot)
#include "tst_pop3dovecot.moc"
