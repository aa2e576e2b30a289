#pragma once
#include "notify/NotifyForm.h"

namespace notify {

// The footer strip below the lowest card, shown for more than five mails: how many mails did
// not fit, and a button that moves the cards one mail further, wrapping round at the end.
class fMail_Bot final : public NotifyForm {
    Q_OBJECT
public:
    explicit fMail_Bot(Forms& forms);

    void Form_Load() override;
    void Image3_Click();

    Control* Image3() const { return image3_; } // the scroll button
    Control* lblDate() const { return lblDate_; }
    Control* Image1() const { return image1_; }

private:
    void ScrollCards();
    void CloseCards();

    Control* image3_;
    Control* lblDate_;
    Control* image1_;
    qint16 unloadTimerSec_ = 10;
};

} // namespace notify
