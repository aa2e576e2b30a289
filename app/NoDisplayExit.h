#pragma once
#include <functional>

// Qt aborts (exit 134, "Reinstalling the application may fix this problem") when it cannot
// open a display. While one of these lives (around the making of the application object),
// that becomes one clear line on stderr and exit status 1. Qt's own lines about it are held
// back, and passed on as they were when the display opened after all.
class NoDisplayExit {
public:
    // `beforeExit` runs just before the program exits for want of a display.
    explicit NoDisplayExit(std::function<void()> beforeExit);
    ~NoDisplayExit();
    NoDisplayExit(const NoDisplayExit&) = delete;
    NoDisplayExit& operator=(const NoDisplayExit&) = delete;
};
