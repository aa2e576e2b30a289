#pragma once

class QObject;

// On a desktop without a notification area the program keeps running, but its menu is out
// of reach. When no tray has appeared a few seconds after the start, says so once on the
// terminal and once as a desktop notification, pointing at the launcher's actions.
void AnnounceMissingTray(QObject* context);
