#include "settings/SettingsValidation.h"

#include "settings/NumberText.h"
#include "platform/TextUtil.h"

namespace SettingsValidation {
namespace {

double valueOf(const QString& text) { return NumberText::LeadingNumber(TextUtil::TrimSpaces(text)); }

} // namespace

Result Check(const Entry& entry)
{
    const bool blank = entry.server.isEmpty() || entry.user.isEmpty() || entry.password.isEmpty() ||
                       entry.interval.isEmpty() || (entry.autoClose && entry.display.isEmpty());
    if (blank) return {Verdict::Blank, {}};

    const double interval = valueOf(entry.interval);
    if (interval < 5) return {Verdict::IntervalTooShort, {}};
    if (interval > kLargestSeconds) return {Verdict::IntervalTooLong, {}};

    // Checked even while auto-close is off: the stored time must stay usable.
    const double display = valueOf(entry.display);
    if (display < 1) return {Verdict::DisplayTooShort, {}};
    if (display > kLargestSeconds) return {Verdict::DisplayTooLong, {}};

    if (display > interval - 2) return {Verdict::Ok, NumberText::ToText(interval - 2)};
    return {Verdict::Ok, entry.display};
}

QString Message(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Ok:
        return {};
    case Verdict::Blank:
        return QStringLiteral("空白の項目が存在します");
    case Verdict::IntervalTooShort:
        return QStringLiteral("受信間隔は5秒以上に設定して下さい");
    case Verdict::IntervalTooLong:
        return QStringLiteral("受信間隔は%1秒以下に設定して下さい").arg(kLargestSeconds);
    case Verdict::DisplayTooShort:
        return QStringLiteral("表示時間は1秒以上に設定して下さい");
    case Verdict::DisplayTooLong:
        return QStringLiteral("表示時間は%1秒以下に設定して下さい").arg(kLargestSeconds);
    }
    return {};
}

} // namespace SettingsValidation
