#include "Assets.h"

namespace Assets {

QStringList All()
{
    return {PostBox, Post, BaseLine, StripHeader, StripFooter, ScrollButton, Card, WoodPanel, TrayIcon};
}

} // namespace Assets
