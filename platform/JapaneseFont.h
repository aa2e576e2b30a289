#pragma once
#include <QFont>

// The windows are designed for "ＭＳ Ｐゴシック", which Linux lacks; IPAPGothic is its
// proportional counterpart and renders every glyph, Noto Sans CJK JP the next best.
QFont JapaneseUiFont(double pointSize, bool bold = false);
