// The text shown for an html-only mail: tags, comments, entities and line breaks.
#include "maillib/HtmlToText.h"

#include <QtTest>

class TestHtmlToText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void convert_data()
    {
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("text");
        // Entities
        QTest::newRow("markup entities") << "a &amp; b &lt;c&gt; &quot;d&quot; &apos;e&apos;"
                                         << "a & b <c> \"d\" 'e'";
        QTest::newRow("typographic entities") << "&copy;&yen;&hellip;&mdash;&euro;"
                                              << "©¥…—€";
        QTest::newRow("decimal and hex") << "&#65;&#x42;&#X43;&#12354;"
                                         << "ABCあ";
        QTest::newRow("astral code point") << "&#x1F600;"
                                           << "😀";
        QTest::newRow("NUL becomes U+FFFD") << "a&#0;b"
                                            << "a\uFFFDb";
        QTest::newRow("surrogate becomes U+FFFD") << "a&#xD800;b"
                                                  << "a\uFFFDb";
        QTest::newRow("beyond Unicode becomes U+FFFD") << "a&#x110000;b"
                                                       << "a\uFFFDb";
        QTest::newRow("unknown name kept") << "a &foo; b"
                                           << "a &foo; b";
        QTest::newRow("no semicolon kept") << "AT&T &amp b"
                                           << "AT&T &amp b";
        QTest::newRow("name too long kept") << "&verylongname; x"
                                            << "&verylongname; x";
        QTest::newRow("entity names are case-sensitive") << "&AMP;"
                                                         << "&AMP;";
        QTest::newRow("nbsp is a space that stays") << "a&nbsp;&nbsp;b"
                                                    << "a  b";
        QTest::newRow("escaped tag is text") << "&lt;b&gt;x&lt;/b&gt;"
                                             << "<b>x</b>";
        // Comments
        QTest::newRow("comment") << "a<!-- <p>hidden</p> -->b"
                                 << "ab";
        QTest::newRow("unterminated comment") << "a<!-- hidden"
                                              << "a";
        QTest::newRow("conditional comment") << "a<!--[if mso]>x<![endif]-->b"
                                             << "ab";
        // Tags
        QTest::newRow("inline tags") << "<b>bold</b> and <i>it</i>"
                                     << "bold and it";
        QTest::newRow("attributes") << "<a href=\"x.html\" title='t'>link</a>"
                                    << "link";
        QTest::newRow("unterminated tag ends the text") << "text<b"
                                                        << "text";
        QTest::newRow("head and title") << "<html><head><title>T</title></head><body>x</body></html>"
                                        << "x";
        QTest::newRow("style") << "<style type=\"text/css\">p { color: red }</style>y"
                               << "y";
        QTest::newRow("script in capitals") << "<SCRIPT>alert('<b>')</SCRIPT>z"
                                            << "z";
        QTest::newRow("unclosed script drops the rest") << "a<script>x"
                                                        << "a";
        // Both the closing and the opening tag end a line, so rows and items stand apart.
        QTest::newRow("table cells") << "<table><tr><td>a</td><td>b</td></tr><tr><td>c</td></tr></table>"
                                     << "a b\n\nc";
        QTest::newRow("list items") << "<ul><li>one</li><li>two</li></ul>"
                                    << "one\n\ntwo";
        QTest::newRow("list items without closing tags") << "<ul><li>one<li>two</ul>"
                                                         << "one\ntwo";
        // Line breaks and blanks
        QTest::newRow("br") << "a<br>b<BR>c<br />d"
                            << "a\nb\nc\nd";
        QTest::newRow("self-closing br") << "a<br/>b"
                                         << "a\nb";
        QTest::newRow("self-closing hr and p") << "a<hr/>b<p/>c"
                                               << "a\nb\nc";
        QTest::newRow("paragraphs") << "<p>one</p><p>two</p>"
                                    << "one\n\ntwo";
        QTest::newRow("at most one empty line") << "a<br><br><br><br>b"
                                                << "a\n\nb";
        QTest::newRow("div and hr") << "<div>a</div><hr><div>b</div>"
                                    << "a\n\nb";
        QTest::newRow("source line ends are blanks") << "one\r\ntwo\nthree"
                                                     << "one two three";
        QTest::newRow("blank runs collapse") << "a \t\n  b"
                                             << "a b";
        QTest::newRow("no blanks at line starts or ends") << "<p>  a  </p>  <p>  b  </p>"
                                                          << "a\n\nb";
        QTest::newRow("trimmed") << "\n\n  <br> x <br>\n"
                                 << "x";
        QTest::newRow("empty") << ""
                               << "";
    }

    void convert()
    {
        QFETCH(QString, html);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(maillib::HtmlToText(html.toStdString())), text);
    }
};

QTEST_GUILESS_MAIN(TestHtmlToText)
#include "tst_htmltotext.moc"
