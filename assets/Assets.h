#pragma once
#include <QPixmap>
#include <QString>
#include <QStringList>

// Resource paths of the compiled-in pictures (see assets.qrc). Each has a twice as large
// name@2x.png beside it for screens with a scale factor of 2.
namespace Assets {

inline const QString PostBox = QStringLiteral(":/assets/postbox.png");                   // 38 x 48
inline const QString Post = QStringLiteral(":/assets/post.png");                         // 7 x 18
inline const QString BaseLine = QStringLiteral(":/assets/baseline.png");                 // 36 x 2
inline const QString StripHeader = QStringLiteral(":/assets/strip_header.png");          // 130 x 25
inline const QString StripFooter = QStringLiteral(":/assets/strip_footer.png");          // 90 x 25
inline const QString ScrollButton = QStringLiteral(":/assets/scroll_button.png");        // 26 x 25
inline const QString Card = QStringLiteral(":/assets/card.png");                         // 130 x 50
inline const QString WoodPanel = QStringLiteral(":/assets/wood_panel.png");              // 330 x 311
inline const QString TrayIcon = QStringLiteral(":/assets/tray_icon.png");                // 32 x 32
inline const QString TrayIconWarning = QStringLiteral(":/assets/tray_icon_warning.png"); // 32 x 32

QStringList All();

// The @2x variant's resource path.
QString HighResolution(const QString& path);

// The picture for a screen of the given device pixel ratio: above 1, the @2x picture with a
// ratio of 2, so that it takes the same place in layouts and only looks sharper. QPixmap's own
// constructor never looks for @2x files; QIcon does.
QPixmap Picture(const QString& path, qreal devicePixelRatio);

} // namespace Assets
