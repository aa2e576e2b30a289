#include "TextCodec.h"

#include <QStringDecoder>
#include <cerrno>
#include <iconv.h>

namespace TextCodec {
namespace {

class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv()
    {
        if (valid()) iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

} // namespace

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
    Iconv cv(to, from);
    if (!cv.valid()) return false;
    QByteArray input = in;
    char* src = input.data();
    size_t srcLeft = static_cast<size_t>(input.size());
    char buf[1024];
    while (srcLeft > 0) {
        char* dst = buf;
        size_t dstLeft = sizeof buf;
        const size_t rc = iconv(cv.get(), &src, &srcLeft, &dst, &dstLeft);
        out.append(buf, static_cast<qsizetype>(dst - buf));
        if (rc != static_cast<size_t>(-1) || errno == E2BIG) continue;
        if (!replaceInvalid) return false;
        out.append("\xEF\xBF\xBD");
        ++src;
        --srcLeft;
        iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);
    }
    return true;
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
