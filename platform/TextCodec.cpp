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

QString DecodeCp932(const QByteArray& bytes)
{
    Iconv cv("UTF-8", "CP932");
    if (!cv.valid()) return QString::fromLatin1(bytes);
    QByteArray out;
    out.reserve(bytes.size() * 3 / 2 + 4);
    QByteArray in = bytes;
    char* src = in.data();
    size_t srcLeft = static_cast<size_t>(in.size());
    char buf[1024];
    while (srcLeft > 0) {
        char* dst = buf;
        size_t dstLeft = sizeof buf;
        const size_t rc = iconv(cv.get(), &src, &srcLeft, &dst, &dstLeft);
        out.append(buf, static_cast<qsizetype>(dst - buf));
        if (rc == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            // Invalid or truncated sequence: mark it and resynchronise after one byte.
            out.append("\xEF\xBF\xBD");
            ++src;
            --srcLeft;
            iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return QString::fromUtf8(out);
}

bool EncodeCp932(const QString& text, QByteArray& out)
{
    out.clear();
    Iconv cv("CP932", "UTF-8");
    if (!cv.valid()) return false;
    QByteArray in = text.toUtf8();
    char* src = in.data();
    size_t srcLeft = static_cast<size_t>(in.size());
    char buf[1024];
    while (srcLeft > 0) {
        char* dst = buf;
        size_t dstLeft = sizeof buf;
        const size_t rc = iconv(cv.get(), &src, &srcLeft, &dst, &dstLeft);
        out.append(buf, static_cast<qsizetype>(dst - buf));
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) return false;
    }
    return true;
}

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
