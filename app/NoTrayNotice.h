#pragma once

// On a desktop without a notification area the program keeps running, but its menu is out
// of reach. Says so once on the terminal and once as a desktop notification, pointing at the
// launcher's actions. Returns true when there was no tray.
bool AnnounceMissingTray();
