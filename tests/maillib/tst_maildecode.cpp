// ReadMail on a corpus of small mails, one per decoding case, each with the
// fields it must give; plus the server text forms and unreadable files.
#include "maillib/ServerAddress.h"
#include "tests/maillib/TestSupport.h"

#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestMailDecode : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void corpus_data()
    {
        QTest::addColumn<QString>("mail");
        QTest::addColumn<QString>("expected");
        QDir dir(qEnvironmentVariable("FW_MAIL_CORPUS"));
        const QStringList mails = dir.entryList({"*.eml"}, QDir::Files, QDir::Name);
        QVERIFY2(mails.size() >= 20, "corpus missing (FW_MAIL_CORPUS)");
        for (const auto& m : mails) {
            QString base = m.chopped(4);
            QTest::newRow(qPrintable(base)) << dir.filePath(m) << dir.filePath(base + ".expected");
        }
    }

    void corpus()
    {
        QFETCH(QString, mail);
        QFETCH(QString, expected);
        QFile f(expected);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString want = QString::fromUtf8(f.readAll());
        auto fields = Read(mail.toStdString());
        QVERIFY(fields);
        QCOMPARE(fields->size(), size_t(5));
        const QStringList lines = want.split('\n');
        for (int i = 0; i < 4; ++i) QCOMPARE(QString::fromStdString((*fields)[static_cast<size_t>(i)]), lines[i]);
        QVERIFY(lines[4] == "body:");
        QCOMPARE(QString::fromStdString((*fields)[4]), "body:" + want.section('\n', 5));
    }

    void hugeAddressListIsNotParsed()
    {
        // GMime's address parser is quadratic; a spam To: of 256 KiB must not stall the check.
        QTemporaryDir dir;
        const QString path = dir.filePath("fw-to.txt");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("From: Sender <s@example.jp>\r\nTo: ");
        for (int i = 0; i < 20000; ++i) f.write("a@b.jp,\r\n ");
        f.write("z@b.jp\r\nSubject: big\r\nDate: Tue, 05 Mar 2024 09:15:00 +0900\r\n\r\nbody\r\n");
        f.close();
        auto fields = Read(path.toStdString());
        QVERIFY(fields);
        QCOMPARE(QString::fromStdString((*fields)[0]), QString("subject: big"));
        QCOMPARE(QString::fromStdString((*fields)[1]), QString("from: Sender <s@example.jp>"));
        QVERIFY(QString::fromStdString((*fields)[4]).startsWith("body:body"));
    }

    void unreadableFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing") << "/nonexistent/fw-0.txt";
        QTest::newRow("directory") << "/tmp";
        QTest::newRow("empty name") << "";
    }

    void unreadableFiles()
    {
        QFETCH(QString, path);
        QVERIFY(!Read(path.toStdString()));
    }

    void arbitraryBytesStillGiveFiveFields()
    {
        QTemporaryDir dir;
        QString path = dir.filePath("junk.txt");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("\x00\xff\xfe=?x?B?////?=\r\n\r\n\x1b$B\x7f", 22));
        f.close();
        auto fields = Read(path.toStdString());
        QVERIFY(fields);
        QCOMPARE(fields->size(), size_t(5));
        for (const auto& e : *fields)
            QVERIFY(QString::fromUtf8(e.data(), static_cast<qsizetype>(e.size())).toUtf8().toStdString() == e);
    }

    void argumentsAreLeftUnchanged()
    {
        std::string ref = " /nonexistent ", fields = "subject:from:date:nofile:", folder = "/tmp";
        maillib::ReadMail(ref, fields, folder);
        QCOMPARE(ref, std::string(" /nonexistent "));
        std::string server = "  ", user = "u", pw = "p", mode = "SAVEALL";
        maillib::RcvMail(server, user, pw, mode, folder);
        QCOMPARE(server, std::string("  "));
        QCOMPARE(pw, std::string("p"));
    }

    void serverForms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("label"); // empty: rejected
        QTest::newRow("host") << "mail.example.jp"
                              << "pop3s://mail.example.jp:995";
        QTest::newRow("host:995") << "mail.example.jp:995"
                                  << "pop3s://mail.example.jp:995";
        QTest::newRow("host:110") << "mail.example.jp:110"
                                  << "pop3://mail.example.jp:110";
        QTest::newRow("host:other") << "mail.example.jp:1110"
                                    << "pop3://mail.example.jp:1110";
        QTest::newRow("pop3s") << "pop3s://mail.example.jp"
                               << "pop3s://mail.example.jp:995";
        QTest::newRow("pop3s:port") << "POP3S://mail.example.jp:2995/"
                                    << "pop3s://mail.example.jp:2995";
        QTest::newRow("pop3") << "pop3://mail.example.jp"
                              << "pop3://mail.example.jp:110";
        QTest::newRow("pop3:995 stays STLS") << "pop3://mail.example.jp:995"
                                             << "pop3://mail.example.jp:995";
        QTest::newRow("insecure") << "insecure-pop3://127.0.0.1"
                                  << "insecure-pop3://127.0.0.1:110";
        QTest::newRow("ipv6") << "[::1]:995"
                              << "pop3s://[::1]:995";
        QTest::newRow("blanks") << "  mail.example.jp  "
                                << "pop3s://mail.example.jp:995";
        QTest::newRow("imap scheme") << "imap://mail.example.jp"
                                     << "imap://mail.example.jp:143/INBOX";
        QTest::newRow("imaps") << "imaps://mail.example.jp"
                               << "imaps://mail.example.jp:993/INBOX";
        QTest::newRow("imaps:port/mailbox") << "IMAPS://mail.example.jp:1993/Archive/"
                                            << "imaps://mail.example.jp:1993/Archive";
        QTest::newRow("insecure imap") << "insecure-imap://127.0.0.1/"
                                       << "insecure-imap://127.0.0.1:143/INBOX";
        QTest::newRow("inbox in any case") << "imaps://mail.example.jp/inBox"
                                           << "imaps://mail.example.jp:993/INBOX";
        QTest::newRow("japanese mailbox") << "imaps://mail.example.jp/受信箱/仕事"
                                          << "imaps://mail.example.jp:993/受信箱/仕事";
        QTest::newRow("escaped mailbox") << "imaps://mail.example.jp/%E5%8F%97%E4%BF%A1"
                                         << "imaps://mail.example.jp:993/受信";
        QTest::newRow("blank in mailbox") << "imaps://mail.example.jp/Sent Messages"
                                          << "imaps://mail.example.jp:993/Sent%20Messages";
        QTest::newRow("@ in mailbox") << "imaps://mail.example.jp/a%40b"
                                      << "imaps://mail.example.jp:993/a%40b";
        QTest::newRow("mailbox ending in a slash") << "imaps://mail.example.jp/a%2F"
                                                   << "imaps://mail.example.jp:993/a%2F";
        QTest::newRow("imap ipv6") << "imaps://[::1]/x"
                                   << "imaps://[::1]:993/x";
        QTest::newRow("imap userinfo") << "imaps://u@mail.example.jp/INBOX"
                                       << "";
        QTest::newRow("mailbox control") << "imaps://mail.example.jp/a%09b"
                                         << "";
        QTest::newRow("mailbox not utf-8") << "imaps://mail.example.jp/%FF"
                                           << "";
        QTest::newRow("path") << "pop3s://mail.example.jp/x"
                              << "";
        QTest::newRow("userinfo") << "pop3s://u@mail.example.jp"
                                  << "";
        QTest::newRow("port 0") << "mail.example.jp:0"
                                << "";
        QTest::newRow("port text") << "mail.example.jp:pop"
                                   << "";
        QTest::newRow("blank inside") << "mail example.jp"
                                      << "";
        QTest::newRow("empty") << ""
                               << "";
    }

    void serverForms()
    {
        QFETCH(QString, text);
        QFETCH(QString, label);
        auto address = maillib::ParseServer(text.toStdString());
        QCOMPARE(address ? QString::fromStdString(address->Label()) : QString(), label);
    }

    void serverErrorsSayWhatIsWrong_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("error");
        const QString credentials = "user and password do not belong in the server address";
        QTest::newRow("user and password") << "pop3s://u:PW@mail.example.jp" << credentials;
        QTest::newRow("user and password, port") << "pop3s://u:PW@mail.example.jp:995" << credentials;
        QTest::newRow("user only, no scheme") << "u@mail.example.jp:110" << credentials;
        QTest::newRow("port text") << "mail.example.jp:pop"
                                   << "invalid port";
        QTest::newRow("port range") << "mail.example.jp:70000"
                                    << "port out of range";
        QTest::newRow("scheme") << "smtp://mail.example.jp"
                                << "unknown scheme (use pop3s://, pop3://, insecure-pop3://, imaps://, imap:// or "
                                   "insecure-imap://)";
        QTest::newRow("imap user and password") << "imaps://u:PW@mail.example.jp/INBOX" << credentials;
        QTest::newRow("mailbox escape") << "imaps://mail.example.jp/50%"
                                        << "invalid %-escape in the mailbox name";
    }

    void serverErrorsSayWhatIsWrong()
    {
        QFETCH(QString, text);
        QFETCH(QString, error);
        std::string why;
        QVERIFY(!maillib::ParseServer(text.toStdString(), &why));
        QCOMPARE(QString::fromStdString(why), error);
    }
};

QTEST_GUILESS_MAIN(TestMailDecode)
#include "tst_maildecode.moc"
