#include "notify/Layout.h"

#include <cmath>

namespace notify::layout {

Corner NotifierCorner(double W, double H) { return {W - 2000, H - 2800}; }

double StackLeft(double W) { return W - 3705; }

Corner CardCorner(int k, double W, double H) { return {StackLeft(W), H - (2745 + 780 * (k - 1))}; }

Corner FooterCorner(double W, double H) { return {StackLeft(W), H - 1965}; }

Corner BodyCorner(double W, double H, double outerWidth, double outerHeight)
{
    return {W - (outerWidth + 100), H - (outerHeight + 500)};
}

StackLayout StackLayoutFor(qint32 mailCount)
{
    static constexpr int kHeaderDistance[] = {2545, 2745 + 400, 3525 + 400, 4305 + 400, 5085 + 400, 5865 + 400};
    StackLayout layout;
    layout.windows << FormId::fMail_Top;
    const bool ownRow = mailCount >= 0 && mailCount <= 5;
    const int cards = ownRow ? mailCount : 5;
    layout.headerDistance = ownRow ? kHeaderDistance[mailCount] : kFullStackHeaderDistance;
    for (int k = 1; k <= cards; ++k) layout.windows << CardForm(k);
    if (!ownRow) layout.windows << FormId::fMail_Bot;
    return layout;
}

qint64 StackTopTwips(double topTwips) { return std::llround(topTwips); }

QString HeaderCaption(qint32 mailCount)
{
    if (mailCount == 0) return QStringLiteral("新着メッセージ無し");
    return QStringLiteral("新着メール") + QString::number(mailCount) + QStringLiteral("件受信");
}

QString FooterCaption(qint64 remaining)
{
    return QStringLiteral("他") + QString::number(remaining) + QStringLiteral("件受信");
}

ScrollStep NextScroll(qint32 extraCount, qint32 pageOffset)
{
    if (extraCount <= pageOffset) return {0, FooterCaption(extraCount)};
    // 64-bit, so that no pair of 32-bit counters can overflow the step.
    const qint64 next = qint64(pageOffset) + 1;
    const qint64 remaining = qint64(extraCount) - next;
    return {static_cast<qint32>(next), remaining == 0 ? QString::fromUtf16(kNoMailsLeft) : FooterCaption(remaining)};
}

QColor ColorFromBgr(quint32 bgr) { return QColor(int(bgr & 0xff), int((bgr >> 8) & 0xff), int((bgr >> 16) & 0xff)); }

int AccountNumber(const QString& label)
{
    for (int n = 1; n <= 5; ++n)
        if (label == QString::number(n)) return n;
    return 0;
}

QColor AccountColor(int account)
{
    static constexpr quint32 kColours[] = {0xFFC0FF, 0xFFFF80, 0x80FFFF, 0x80FF80, 0xFFFFFF};
    return account >= 1 && account <= 5 ? ColorFromBgr(kColours[account - 1]) : QColor();
}

QString CardDesignCaption(int k)
{
    return QStringLiteral("【アカウント") + QChar(char16_t(0xFF10 + k)) + QStringLiteral("】");
}

} // namespace notify::layout
