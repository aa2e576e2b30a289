#pragma once
#include "notify/NotifyForm.h"

namespace notify {

// The new-mail notifier: a red post box on a post near the lower right corner. A click on the
// box opens the notification stack, a click while it is open closes the stack and the notifier.
class fMail_Checker final : public NotifyForm {
    Q_OBJECT
public:
    explicit fMail_Checker(Forms& forms);

    void Form_Load() override;
    void Image1_Click();

    Control* Image1() const { return image1_; } // post box; the only control that takes clicks
    Control* Image2() const { return image2_; } // post
    Control* Image3() const { return image3_; } // base line
    qint16 UnloadTimerSec() const { return unloadTimerSec_; }

private:
    void CloseStack();
    void ShowStack();

    Control* image1_;
    Control* image2_;
    Control* image3_;
    qint16 unloadTimerSec_ = 10;
};

} // namespace notify
