#include "ProfileIni.h"

#include "TextCodec.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>

namespace ProfileIni {
namespace {

qint64 writeFaultAfter = -1;

enum class Encoding { Cp932, Utf8, Utf8Bom };

struct RawFile {
    bool exists = false;
    QByteArray bytes;
    Encoding encoding = Encoding::Cp932;
};

Encoding detectEncoding(const QByteArray& bytes)
{
    if (TextCodec::HasUtf8Bom(bytes)) return Encoding::Utf8Bom;
    bool ascii = true;
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    }
    // Pure ASCII says nothing; such a file is written on as Windows would, in CP932.
    if (!ascii && TextCodec::IsValidUtf8(bytes)) return Encoding::Utf8;
    return Encoding::Cp932;
}

RawFile readRaw(const QString& path)
{
    RawFile raw;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return raw;
    raw.exists = true;
    raw.bytes = file.readAll();
    raw.encoding = detectEncoding(raw.bytes);
    return raw;
}

QString decodeLine(const QByteArray& line, Encoding encoding)
{
    return encoding == Encoding::Cp932 ? TextCodec::DecodeCp932(line) : QString::fromUtf8(line);
}

QByteArray encodeText(const QString& text, Encoding encoding)
{
    if (encoding != Encoding::Cp932) return text.toUtf8();
    QByteArray out;
    TextCodec::EncodeCp932(text, out);
    return out;
}

// One physical line: its content without terminator, and the terminator as found.
struct Line {
    QByteArray content;
    QByteArray eol;
};

QList<Line> splitLines(QByteArray bytes, Encoding encoding)
{
    if (encoding == Encoding::Utf8Bom) bytes.remove(0, 3);
    QList<Line> lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        const qsizetype nl = bytes.indexOf('\n', start);
        if (nl < 0) {
            lines.append({bytes.mid(start), QByteArray()});
            break;
        }
        qsizetype end = nl;
        QByteArray eol("\n");
        if (end > start && bytes.at(end - 1) == '\r') {
            --end;
            eol = "\r\n";
        }
        lines.append({bytes.mid(start, end - start), eol});
        start = nl + 1;
    }
    return lines;
}

bool isSectionLine(const QString& trimmed, QString* name)
{
    if (!trimmed.startsWith(u'[')) return false;
    const qsizetype close = trimmed.indexOf(u']');
    if (close < 0) return false;
    *name = trimmed.mid(1, close - 1).trimmed();
    return true;
}

// Key and value of a "key = value" line; false for comments, blanks and section lines.
bool parseKeyLine(const QString& text, QString* key, QString* value)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(u';') || trimmed.startsWith(u'[')) return false;
    const qsizetype eq = trimmed.indexOf(u'=');
    if (eq < 0) return false;
    *key = trimmed.left(eq).trimmed();
    QString v = trimmed.mid(eq + 1).trimmed();
    if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front()) v = v.mid(1, v.size() - 2);
    *value = v;
    return true;
}

struct Location {
    qsizetype sectionLine = -1;     // first matching section header
    qsizetype lastSectionEntry = -1; // last non-blank line of that section
    qsizetype keyLine = -1;
    QString value;
};

Location locate(const QList<Line>& lines, Encoding encoding, const QString& section, const QString& key)
{
    Location loc;
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString text = decodeLine(lines[i].content, encoding);
        const QString trimmed = text.trimmed();
        QString name;
        if (isSectionLine(trimmed, &name)) {
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            if (inSection && loc.sectionLine < 0) {
                loc.sectionLine = i;
                loc.lastSectionEntry = i;
            }
            continue;
        }
        if (!inSection) continue;
        if (!trimmed.isEmpty() && loc.sectionLine >= 0 && loc.keyLine < 0) loc.lastSectionEntry = i;
        QString k, v;
        if (loc.keyLine < 0 && parseKeyLine(text, &k, &v) && k.compare(key, Qt::CaseInsensitive) == 0) {
            loc.keyLine = i;
            loc.value = v;
        }
    }
    return loc;
}

bool commit(const QString& path, const QByteArray& bytes, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return fail(file.errorString());
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray payload = (writeFaultAfter >= 0 && writeFaultAfter < bytes.size()) ? bytes.left(writeFaultAfter) : bytes;
    if (file.write(payload) != payload.size()) {
        file.cancelWriting();
        return fail(file.errorString());
    }
    if (payload.size() != bytes.size()) {
        file.cancelWriting();
        return fail(QStringLiteral("No space left on device"));
    }
    if (!file.commit()) return fail(file.errorString());
    return true;
}

} // namespace

QString GetString(const QString& section, const QString& key, const QString& path)
{
    const RawFile raw = readRaw(path);
    if (!raw.exists) return {};
    const QList<Line> lines = splitLines(raw.bytes, raw.encoding);
    const Location loc = locate(lines, raw.encoding, section, key);
    if (loc.keyLine < 0) return {};
    return TextCodec::TruncateEncoded(loc.value, kBufferSize - 1, raw.encoding == Encoding::Cp932);
}

bool WriteString(const QString& section, const QString& key, const QString& value, const QString& path, QString* error)
{
    return WriteStrings({{section, key, value}}, path, error);
}

bool WriteStrings(const QList<Entry>& entries, const QString& path, QString* error)
{
    RawFile raw = readRaw(path);
    if (!raw.exists && QFileInfo::exists(path)) {
        if (error) *error = QStringLiteral("cannot read %1").arg(path);
        return false;
    }
    Encoding encoding = raw.exists ? raw.encoding : Encoding::Cp932;
    QList<Line> lines = splitLines(raw.bytes, encoding);
    const QByteArray eol = (!lines.isEmpty() && !lines.front().eol.isEmpty()) ? lines.front().eol : QByteArray("\r\n");

    for (const Entry& entry : entries) {
        QString value = entry.value;
        // A line break in a value would start a new line of the file.
        value.replace(u'\r', u' ').replace(u'\n', u' ');

        // A text CP932 cannot hold turns the file into UTF-8 rather than losing characters.
        if (encoding == Encoding::Cp932) {
            QByteArray probe;
            if (!TextCodec::EncodeCp932(entry.section + entry.key + value, probe)) {
                for (Line& line : lines) line.content = TextCodec::DecodeCp932(line.content).toUtf8();
                encoding = Encoding::Utf8;
            }
        }

        const QByteArray keyLine = encodeText(entry.key + u'=' + value, encoding);
        const Location loc = locate(lines, encoding, entry.section, entry.key);
        if (loc.keyLine >= 0) {
            lines[loc.keyLine].content = keyLine;
            if (lines[loc.keyLine].eol.isEmpty()) lines[loc.keyLine].eol = eol;
        } else if (loc.sectionLine >= 0) {
            Line& before = lines[loc.lastSectionEntry];
            if (before.eol.isEmpty()) before.eol = eol;
            lines.insert(loc.lastSectionEntry + 1, {keyLine, eol});
        } else {
            if (!lines.isEmpty() && lines.back().eol.isEmpty()) lines.back().eol = eol;
            lines.append({encodeText(u'[' + entry.section + u']', encoding), eol});
            lines.append({keyLine, eol});
        }
    }

    QByteArray out;
    if (encoding == Encoding::Utf8Bom) out = "\xEF\xBB\xBF";
    for (const Line& line : lines) out += line.content + line.eol;
    return commit(path, out, error);
}

void SetWriteFaultAfterBytesForTests(qint64 bytes) { writeFaultAfter = bytes; }

} // namespace ProfileIni
