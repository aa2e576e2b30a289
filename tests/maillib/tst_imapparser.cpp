// IMAP responses read as they arrive, in any pieces; mailbox names on the wire; the
// closed set of commands.
#include "tests/maillib/FakeImapServer.h"
#include "maillib/ImapCommand.h"
#include "maillib/ImapMailboxName.h"
#include "maillib/ImapResponse.h"

#include <QtTest>

using namespace maillib::imap;

Q_DECLARE_METATYPE(ResponseBounds)

namespace {

QString Show(const Value& v)
{
    switch (v.kind) {
    case Value::Kind::Atom:
        return QString::fromStdString(v.text);
    case Value::Kind::Nil:
        return "NIL";
    case Value::Kind::String: {
        QString out = "\"";
        for (unsigned char c : v.text)
            out += c >= 0x20 && c < 0x7F ? QString(QChar(c)) : QString("\\x%1").arg(c, 2, 16, QChar('0'));
        return out + "\"";
    }
    case Value::Kind::List: {
        QStringList items;
        for (const Value& i : v.items) items << Show(i);
        return "(" + items.join(' ') + ")";
    }
    }
    return {};
}

// One line per response: "T[tag] STATUS [code] text", "* [n] NAME items", "+ text", and
// "cut" or "malformed" at the end when so.
QString Show(const Response& r)
{
    QStringList parts;
    if (r.kind == Response::Kind::Continuation) parts << "+";
    if (r.kind == Response::Kind::Tagged) parts << "T[" + QString::fromStdString(r.tag) + "]";
    if (r.kind == Response::Kind::Untagged) parts << "*";
    if (r.number) parts << QString::number(*r.number);
    if (!r.status.empty()) parts << QString::fromStdString(r.status);
    if (!r.code.empty()) parts << "[" + QString::fromStdString(r.code) + "]";
    if (!r.name.empty()) parts << QString::fromStdString(r.name);
    for (const Value& v : r.items) parts << Show(v);
    if (!r.text.empty()) parts << "'" + QString::fromStdString(r.text) + "'";
    if (r.cut) parts << "cut";
    if (r.malformed) parts << "malformed";
    return parts.join(' ');
}

// Everything the reader makes of `bytes` fed in pieces of `step` bytes, or cut once at
// `split` (step 0); "broken: ..." ends it when a bound was passed.
QStringList Read(const QByteArray& bytes, ResponseBounds bounds, int step, int split = -1)
{
    ResponseReader reader(bounds);
    std::string_view all(bytes.constData(), static_cast<size_t>(bytes.size()));
    if (split >= 0) {
        reader.Feed(all.substr(0, static_cast<size_t>(split)));
        reader.Feed(all.substr(static_cast<size_t>(split)));
    } else {
        for (size_t i = 0; i < all.size(); i += static_cast<size_t>(step))
            reader.Feed(all.substr(i, static_cast<size_t>(step)));
    }
    QStringList out;
    while (auto r = reader.Next()) out << Show(*r);
    if (reader.Broken()) out << "broken: " + QString::fromStdString(reader.Error());
    return out;
}

// A literal's bytes, NULs included.
template <size_t N> QByteArray Bytes(const char (&s)[N]) { return QByteArray(s, N - 1); }

ResponseBounds Small(size_t literal, size_t line, size_t response)
{
    ResponseBounds b;
    b.literal = literal;
    b.line = line;
    b.response = response;
    return b;
}

} // namespace

class TestImapParser : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void responses_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<ResponseBounds>("bounds");
        const ResponseBounds normal;
        QTest::newRow("tagged with code") << QByteArray("a1 OK [READ-ONLY] EXAMINE completed\r\n")
                                          << QStringList{"T[a1] OK [READ-ONLY] 'EXAMINE completed'"} << normal;
        QTest::newRow("tagged, lower case")
            << QByteArray("F7 no [NONEXISTENT] Mailbox doesn't exist: X\r\n")
            << QStringList{"T[F7] NO [NONEXISTENT] 'Mailbox doesn't exist: X'"} << normal;
        QTest::newRow("untagged numbers") << QByteArray("* 3 EXISTS\r\n* 0 RECENT\r\n* 2 EXPUNGE\r\n")
                                          << QStringList{"* 3 EXISTS", "* 0 RECENT", "* 2 EXPUNGE"} << normal;
        QTest::newRow("status code with a list")
            << QByteArray("* OK [PERMANENTFLAGS ()] Read-only mailbox.\r\n* OK [UIDVALIDITY 3857529045] UIDs valid\r\n")
            << QStringList{"* OK [PERMANENTFLAGS ()] 'Read-only mailbox.'",
                           "* OK [UIDVALIDITY 3857529045] 'UIDs valid'"}
            << normal;
        QTest::newRow("continuations") << QByteArray("+ idling\r\n+\r\n") << QStringList{"+ 'idling'", "+"} << normal;
        QTest::newRow("capability") << QByteArray("* CAPABILITY IMAP4rev1 IDLE UTF8=ACCEPT AUTH=PLAIN\r\n")
                                    << QStringList{"* CAPABILITY IMAP4rev1 IDLE UTF8=ACCEPT AUTH=PLAIN"} << normal;
        QTest::newRow("status") << QByteArray("* STATUS \"INBOX\" (MESSAGES 3 UIDNEXT 4 UIDVALIDITY 1)\r\n")
                                << QStringList{"* STATUS \"INBOX\" (MESSAGES 3 UIDNEXT 4 UIDVALIDITY 1)"} << normal;
        QTest::newRow("fetch with literals")
            << QByteArray(
                   "* 1 FETCH (UID 5 BODY[HEADER] {20}\r\nSubject: (\"x\" {3})\r\n BODY[TEXT]<0> {4}\r\nab\r\n)\r\n"
                   "a2 OK done\r\n")
            << QStringList{"* 1 FETCH (UID 5 BODY[HEADER] \"Subject: (\"x\" {3})\\x0d\\x0a\" BODY[TEXT]<0> "
                           "\"ab\\x0d\\x0a\")",
                           "T[a2] OK 'done'"}
            << normal;
        QTest::newRow("literal ending like a literal") << QByteArray("* 1 FETCH (BODY[TEXT] {5}\r\nab{3})\r\n")
                                                       << QStringList{"* 1 FETCH (BODY[TEXT] \"ab{3}\")"} << normal;
        QTest::newRow("section with a list")
            << QByteArray("* 2 FETCH (BODY[HEADER.FIELDS (DATE FROM)] NIL)\r\n")
            << QStringList{"* 2 FETCH (BODY[HEADER.FIELDS (DATE FROM)] NIL)"} << normal;
        QTest::newRow("empty and binary literals") << Bytes("* 1 FETCH (A {0}\r\n B ~{3}\r\n\x00\x01z)\r\n")
                                                   << QStringList{"* 1 FETCH (A \"\" B \"\\x00\\x01z\")"} << normal;
        QTest::newRow("quoted escapes") << QByteArray("* LIST () \"/\" \"a\\\"b\\\\c\"\r\n")
                                        << QStringList{"* LIST () \"/\" \"a\"b\\c\""} << normal;
        QTest::newRow("nested lists") << QByteArray("* X (a (b (c NIL)) ())\r\n")
                                      << QStringList{"* X (a (b (c NIL)) ())"} << normal;
        QTest::newRow("bare LF, blank lines")
            << QByteArray("\r\n* 1 EXISTS\n\n* BYE bye\n") << QStringList{"* 1 EXISTS", "* BYE 'bye'"} << normal;
        QTest::newRow("garbage") << QByteArray("hello world\r\n* \x01\x02 junk\r\n* 4 FETCH (UID\r\n* )(\r\n")
                                 << QStringList{"T[hello] malformed", "* \x01\x02 malformed",
                                                "* 4 FETCH (UID) malformed", "* )( malformed"}
                                 << normal;
        QTest::newRow("unterminated quoted")
            << QByteArray("* X \"abc\r\n") << QStringList{"* X \"abc\" malformed"} << normal;
        QTest::newRow("unclosed section")
            << QByteArray("* 1 FETCH (BODY[TEXT 1)\r\n") << QStringList{"* 1 FETCH (BODY[TEXT 1)) malformed"} << normal;
        QByteArray deep = "* X " + QByteArray(17, '(') + QByteArray(17, ')') + "\r\n";
        QTest::newRow("nesting past the bound")
            << deep << QStringList{"* X (((((((((((((((()))))))))))))))) malformed"} << normal;

        QTest::newRow("literal over its bound")
            << QByteArray("* 1 FETCH (UID 9 BODY[TEXT] {10}\r\n0123456789)\r\n* 2 EXISTS\r\n")
            << QStringList{"* 1 FETCH (UID 9 BODY[TEXT] \"0123\") cut malformed",
                           "broken: a literal over the bound of 4 bytes"}
            << Small(4, 1000, 1000);
        QTest::newRow("literal too large to count")
            << QByteArray("* 1 FETCH (BODY[TEXT] {99999999999999999999999}\r\nabcdef")
            << QStringList{"* 1 FETCH (BODY[TEXT] \"abcd\") cut malformed",
                           "broken: a literal over the bound of 4 bytes"}
            << Small(4, 1000, 1000);
        QTest::newRow("literals over the response bound")
            << QByteArray("* 1 FETCH (A {4}\r\nabcd B {4}\r\nefgh)\r\n")
            << QStringList{"* 1 FETCH (A \"abcd\" B \"\") cut malformed",
                           "broken: a response over the bound of 30 bytes"}
            << Small(4, 1000, 30);
        QTest::newRow("line over its bound")
            << QByteArray("* 1 EXISTS\r\n* OK aaaaaaaaaaaaaaaaaaaaaaaa\r\n")
            << QStringList{"* 1 EXISTS", "broken: a response line over the bound of 16 bytes"} << Small(4, 16, 1000);
    }

    // The same responses whether the bytes come at once, a byte at a time, or cut in two
    // at any place: a literal split at every byte is read alike.
    void responses()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, expected);
        QFETCH(ResponseBounds, bounds);
        QCOMPARE(Read(bytes, bounds, bytes.size() + 1), expected);
        QCOMPARE(Read(bytes, bounds, 1), expected);
        for (int split = 0; split <= bytes.size(); ++split) QCOMPARE(Read(bytes, bounds, 0, split), expected);
    }

    void capabilities_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QStringList>("named");
        QTest::newRow("data") << QByteArray("* CAPABILITY imap4rev1 IDLE") << QStringList{"IMAP4REV1", "IDLE"};
        QTest::newRow("code") << QByteArray("A003 OK [CAPABILITY IMAP4rev1  UTF8=ACCEPT] Logged in")
                              << QStringList{"IMAP4REV1", "UTF8=ACCEPT"};
        QTest::newRow("garbage") << QByteArray("* CAPABILITY \x01 (x)") << QStringList{};
        QTest::newRow("other") << QByteArray("* OK [UIDNEXT 4] x") << QStringList{};
    }

    void capabilities()
    {
        QFETCH(QByteArray, line);
        QFETCH(QStringList, named);
        QStringList got;
        for (const auto& c : CapabilitiesIn(ParseResponse(line.toStdString(), 4))) got << QString::fromStdString(c);
        QCOMPARE(got, named);
    }

    void mailboxNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("wire");
        QTest::newRow("ascii") << "INBOX"
                               << "INBOX";
        QTest::newRow("ampersand") << "a&b"
                                   << "a&-b";
        QTest::newRow("rfc example") << "~peter/mail/台北/日本語"
                                     << "~peter/mail/&U,BTFw-/&ZeVnLIqe-";
        QTest::newRow("japanese") << "受信箱"
                                  << "&U9dP4Xux-";
        QTest::newRow("mixed") << "Sent 送信済み"
                               << "Sent &kAFP4W4IMH8-";
        QTest::newRow("outside the BMP") << "📧"
                                         << "&2D3c5w-";
    }

    void mailboxNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, wire);
        QCOMPARE(QString::fromStdString(EncodeModifiedUtf7(name.toStdString()).value_or("<refused>")), wire);
        QCOMPARE(QString::fromStdString(DecodeModifiedUtf7(wire.toStdString()).value_or("<refused>")), name);
    }

    void badMailboxNames_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("wire"); // decoding the wire form, else encoding a name
        QTest::newRow("unterminated") << QByteArray("&ZeVnLIqe") << true;
        QTest::newRow("foreign letter") << QByteArray("&Jjo!-") << true;
        QTest::newRow("printable encoded") << QByteArray("&AGE-") << true;
        QTest::newRow("lone surrogate") << QByteArray("&2D0-") << true;
        QTest::newRow("bits left over") << QByteArray("&ZeV-") << true;
        QTest::newRow("8-bit on the wire") << QByteArray("\xe5\x8f\x97") << true;
        QTest::newRow("not utf-8") << QByteArray("\xff") << false;
        QTest::newRow("tab") << QByteArray("a\tb") << false;
        QTest::newRow("C1 control") << QByteArray("a\xc2\x85") << false;
    }

    void badMailboxNames()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, wire);
        std::string s = text.toStdString();
        QVERIFY(!(wire ? DecodeModifiedUtf7(s) : EncodeModifiedUtf7(s)));
    }

    void commands_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        auto box = [](const char* name, bool utf8) { return *MailboxArgument::For(name, utf8); };
        auto line = [](const Command& c) { return QString::fromStdString(c.Line("F1")); };
        QTest::newRow("examine, modified utf-7")
            << line(Command::Examine(box("日本語", false))) << "F1 EXAMINE \"&ZeVnLIqe-\"\r\n";
        QTest::newRow("examine, utf-8") << line(Command::Examine(box("日本語", true))) << "F1 EXAMINE \"日本語\"\r\n";
        QTest::newRow("status, quoting") << line(Command::Status(box("a\"b\\c", false)))
                                         << "F1 STATUS \"a\\\"b\\\\c\" (MESSAGES UIDNEXT UIDVALIDITY)\r\n";
        QTest::newRow("fetch peeks") << line(Command::UidFetchPeek({1, 2, 3, 7, 9, 10}, 4096))
                                     << "F1 UID FETCH 1:3,7,9:10 (UID BODY.PEEK[HEADER] BODY.PEEK[TEXT]<0.4096>)\r\n";
        QTest::newRow("fetch, header only")
            << line(Command::UidFetchPeek({5}, 0)) << "F1 UID FETCH 5 (UID BODY.PEEK[HEADER])\r\n";
        QTest::newRow("search") << line(Command::UidSearchAll()) << "F1 UID SEARCH ALL\r\n";
    }

    // The wire form of each command, and none of them changes a mailbox.
    void commands()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        QCOMPARE(line, expected);
        QVERIFY(ChangingCommands({{line.trimmed().toStdString()}}).empty());
    }

    void namesThatCannotBeSent()
    {
        for (const char* name : {"", "a\r\nF2 DELETE INBOX", "a\x01", "\xff"})
            QVERIFY2(!MailboxArgument::For(name, true) && !MailboxArgument::For(name, false), name);
    }
};

QTEST_GUILESS_MAIN(TestImapParser)
#include "tst_imapparser.moc"
