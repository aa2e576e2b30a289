#include "platform/JapaneseFont.h"

#include <QStringList>

QFont JapaneseUiFont(double pointSize, bool bold)
{
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic"),
                      QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL PGothic")});
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}
