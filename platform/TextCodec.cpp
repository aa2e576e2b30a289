#include "platform/TextCodec.h"

#include "base/IconvConverter.h"

#include <QStringDecoder>

namespace TextCodec {

bool IsValidUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(bytes); // decode() is lazy until converted
    return !decoder.hasError();
}

bool HasUtf8Bom(const QByteArray& bytes) { return bytes.startsWith("\xEF\xBB\xBF"); }

// Converts all of `in`. An invalid sequence either becomes U+FFFD and the conversion goes on
// after one byte (`replaceInvalid`), or ends it with false.
static bool convert(const char* to, const char* from, const QByteArray& in, bool replaceInvalid, QByteArray& out)
{
    out.clear();
    fw::IconvConverter cv(to, from);
    if (!cv.valid()) return false;
    std::string converted;
    const bool ok =
        cv.Convert(std::string_view(in.constData(), static_cast<size_t>(in.size())), converted,
                   replaceInvalid ? fw::IconvConverter::OnInvalid::Replace : fw::IconvConverter::OnInvalid::Stop);
    out = QByteArray::fromStdString(converted);
    return ok;
}

QString DecodeCp932(const QByteArray& bytes)
{
    QByteArray utf8;
    if (!convert("UTF-8", "CP932", bytes, true, utf8)) return QString::fromLatin1(bytes);
    return QString::fromUtf8(utf8);
}

bool EncodeCp932(const QString& text, QByteArray& out) { return convert("CP932", "UTF-8", text.toUtf8(), false, out); }

QByteArray EncodeCp932OrUtf8(const QString& text)
{
    QByteArray out;
    return EncodeCp932(text, out) ? out : text.toUtf8();
}

QString TruncateEncoded(const QString& text, int maxBytes, bool cp932)
{
    QString result;
    int used = 0;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype len = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QString ch = text.mid(i, len);
        QByteArray enc;
        if (!cp932 || !EncodeCp932(ch, enc)) enc = ch.toUtf8();
        if (used + enc.size() > maxBytes) break;
        used += static_cast<int>(enc.size());
        result += ch;
        i += len;
    }
    return result;
}

} // namespace TextCodec
