#pragma once
#include <QIcon>
#include <QPixmap>

// The tray picture shown while an account fails: the drawn asset when it is compiled in,
// otherwise `normal` with a warning mark painted over its lower right corner.
QIcon TrayWarningIcon(const QIcon& normal);

// A copy of `base` with a small yellow warning triangle in its lower right corner.
QPixmap WithWarningMark(const QPixmap& base);
