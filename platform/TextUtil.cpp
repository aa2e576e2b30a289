#include "platform/TextUtil.h"

#include "base/HiddenControls.h"

namespace TextUtil {

QString TrimSpaces(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == u' ') ++begin;
    while (end > begin && text.at(end - 1) == u' ') --end;
    return text.mid(begin, end - begin);
}

QString LeftChars(const QString& text, int count)
{
    qsizetype i = 0;
    for (int n = 0; n < count && i < text.size(); ++n)
        i += (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) ? 2 : 1;
    return text.left(i);
}

int CharCount(const QString& text)
{
    int n = 0;
    for (qsizetype i = 0; i < text.size(); ++n)
        i += (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) ? 2 : 1;
    return n;
}

QString OneLine(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        // Every hidden control lies in the Basic Multilingual Plane: one UTF-16 unit each.
        const char32_t u = c.unicode();
        if (fw::IsControl(u) || fw::IsLineSeparator(u)) out += u' ';
        else if (!fw::IsInvisibleFormat(u)) out += c;
    }
    return out;
}

} // namespace TextUtil
