#include "platform/ProfileIni.h"

#include "platform/Diagnostics.h"
#include "platform/FileOps.h"
#include "platform/TextCodec.h"

#include <QHash>
#include <QList>
#include <mutex>

namespace ProfileIni {
namespace {

// How the file is stored. Lines are handled as bytes: in CP932 for a CP932 file, in UTF-8 for
// every other (a UTF-16 file is converted on reading and back on writing).
enum class Encoding { Cp932, Utf8, Utf8Bom, Utf16Le, Utf16Be };

struct RawFile {
    bool exists = false;   // something is there, readable or not
    bool readable = false; // `bytes` holds the whole file
    QByteArray bytes;      // the lines, BOM removed, UTF-16 converted to UTF-8
    Encoding encoding = Encoding::Utf8;
    QString problem; // why it could not be read (or not all of it)
};

// Says why the file cannot be read, once per path until the reason changes: the settings are
// read key by key, and one line is enough.
void reportProblem(const QString& path, const QString& problem)
{
    static std::mutex mutex;
    static QHash<QString, QString> lastProblem;
    std::lock_guard lock(mutex);
    if (problem.isEmpty()) {
        lastProblem.remove(path);
        return;
    }
    auto it = lastProblem.find(path);
    if (it != lastProblem.end() && *it == problem) return;
    lastProblem.insert(path, problem);
    Diagnostics::Warn(problem);
}

bool isAscii(const QByteArray& bytes)
{
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

QByteArray utf16ToUtf8(const QByteArray& bytes, bool bigEndian)
{
    QString text;
    text.reserve(bytes.size() / 2);
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        const auto hi = static_cast<unsigned char>(bytes[bigEndian ? i : i + 1]);
        const auto lo = static_cast<unsigned char>(bytes[bigEndian ? i + 1 : i]);
        text.append(QChar(static_cast<char16_t>((hi << 8) | lo)));
    }
    return text.toUtf8();
}

QByteArray utf8ToUtf16(const QByteArray& utf8, bool bigEndian)
{
    const QString text = QString::fromUtf8(utf8);
    QByteArray out;
    out.reserve(2 + text.size() * 2);
    out += bigEndian ? QByteArray("\xFE\xFF", 2) : QByteArray("\xFF\xFE", 2);
    for (const QChar c : text) {
        const char hi = static_cast<char>(c.unicode() >> 8);
        const char lo = static_cast<char>(c.unicode() & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    }
    return out;
}

// Splits off the byte-order mark and decides the encoding of the rest.
void decodeFile(const QByteArray& bytes, RawFile& raw)
{
    if (bytes.startsWith("\xFF\xFE")) {
        raw.encoding = Encoding::Utf16Le;
        raw.bytes = utf16ToUtf8(bytes.mid(2), false);
    } else if (bytes.startsWith("\xFE\xFF")) {
        raw.encoding = Encoding::Utf16Be;
        raw.bytes = utf16ToUtf8(bytes.mid(2), true);
    } else if (TextCodec::HasUtf8Bom(bytes)) {
        raw.encoding = Encoding::Utf8Bom;
        raw.bytes = bytes.mid(3);
    } else {
        // Pure ASCII fits either reading; it is written on in UTF-8, as a new file is.
        raw.encoding = (isAscii(bytes) || TextCodec::IsValidUtf8(bytes)) ? Encoding::Utf8 : Encoding::Cp932;
        raw.bytes = bytes;
    }
}

RawFile readRaw(const QString& path)
{
    RawFile raw;
    const FileOps::ReadResult read = FileOps::ReadRegularFile(path, kMaxFileBytes);
    raw.exists = read.status != FileOps::ReadStatus::Missing;
    raw.problem = read.error;
    reportProblem(path, raw.problem);
    if (read.status == FileOps::ReadStatus::Ok || read.status == FileOps::ReadStatus::TooLarge) {
        raw.readable = read.status == FileOps::ReadStatus::Ok;
        decodeFile(read.bytes, raw);
    }
    return raw;
}

QString decodeLine(const QByteArray& line, Encoding encoding)
{
    return encoding == Encoding::Cp932 ? TextCodec::DecodeCp932(line) : QString::fromUtf8(line);
}

// False when CP932 has no form for a character of `text`.
bool encodeText(const QString& text, Encoding encoding, QByteArray& out)
{
    if (encoding != Encoding::Cp932) {
        out = text.toUtf8();
        return true;
    }
    return TextCodec::EncodeCp932(text, out);
}

QString encodingName(Encoding encoding)
{
    switch (encoding) {
    case Encoding::Cp932:
        return QStringLiteral("Shift_JIS (CP932)");
    case Encoding::Utf16Le:
    case Encoding::Utf16Be:
        return QStringLiteral("UTF-16");
    default:
        return QStringLiteral("UTF-8");
    }
}

// One physical line: its content without terminator, and the terminator as found.
struct Line {
    QByteArray content;
    QByteArray eol;
};

QList<Line> splitLines(const QByteArray& bytes)
{
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
    qsizetype sectionLine = -1;      // first matching section header
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

} // namespace

QString GetString(const QString& section, const QString& key, const QString& path)
{
    const RawFile raw = readRaw(path);
    if (raw.bytes.isEmpty()) return {};
    const QList<Line> lines = splitLines(raw.bytes);
    const Location loc = locate(lines, raw.encoding, section, key);
    if (loc.keyLine < 0) return {};
    // The buffer is counted in the bytes the ANSI profile functions hand out: CP932 for
    // CP932 and UTF-16 files.
    const bool cp932Bytes =
        raw.encoding == Encoding::Cp932 || raw.encoding == Encoding::Utf16Le || raw.encoding == Encoding::Utf16Be;
    return TextCodec::TruncateEncoded(loc.value, kBufferSize - 1, cp932Bytes);
}

bool WriteString(const QString& section, const QString& key, const QString& value, const QString& path, QString* error)
{
    return WriteStrings({{section, key, value}}, path, error);
}

bool WriteStrings(const QList<Entry>& entries, const QString& path, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    const RawFile raw = readRaw(path);
    // Writing on what could not be read whole would lose the rest of it.
    if (raw.exists && !raw.readable) return fail(raw.problem);
    const Encoding encoding = raw.encoding;
    QList<Line> lines = splitLines(raw.bytes);
    const QByteArray eol = (!lines.isEmpty() && !lines.front().eol.isEmpty()) ? lines.front().eol : QByteArray("\r\n");

    for (const Entry& entry : entries) {
        QString value = entry.value;
        // A line break in a value would start a new line of the file.
        value.replace(u'\r', u' ').replace(u'\n', u' ');

        // Changing the file's encoding would change what its other keys read, so a text the
        // encoding cannot hold is refused. The reason names the key, never the text.
        QByteArray keyLine, sectionLine;
        if (!encodeText(entry.key + u'=' + value, encoding, keyLine) ||
            !encodeText(u'[' + entry.section + u']', encoding, sectionLine)) {
            return fail(
                QStringLiteral("%1 holds a character the settings file's encoding, %2, cannot store; nothing was saved")
                    .arg(entry.key, encodingName(encoding)));
        }
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
            lines.append({sectionLine, eol});
            lines.append({keyLine, eol});
        }
    }

    QByteArray out;
    for (const Line& line : lines) out += line.content + line.eol;
    // A CP932 file whose last CP932-only bytes were just replaced would be read as UTF-8 next
    // time, and its other Japanese entries would change.
    if (encoding == Encoding::Cp932 && !isAscii(out) && TextCodec::IsValidUtf8(out)) {
        return fail(
            QStringLiteral("saving would change how the other entries of the Shift_JIS (CP932) settings file read; "
                           "nothing was saved (convert the file to UTF-8 first)"));
    }
    switch (encoding) {
    case Encoding::Utf8Bom:
        out.prepend("\xEF\xBB\xBF");
        break;
    case Encoding::Utf16Le:
        out = utf8ToUtf16(out, false);
        break;
    case Encoding::Utf16Be:
        out = utf8ToUtf16(out, true);
        break;
    default:
        break;
    }
    // The file holds every account and password: it must be on the disk before success is reported.
    return FileOps::ReplaceFile(path, out, true, error);
}

int RemoveStaleTemporaries(const QString& path) { return FileOps::RemoveStaleTemporaries(path); }

} // namespace ProfileIni
