#pragma once
#include "notify/NotifyForm.h"

class QPlainTextEdit;

namespace notify {

// The detail window of one mail, filled by the card that opened it. While it is loaded the
// controller's mail-check and auto-close timers do nothing and the notifier takes no clicks.
// Closing it gives the stack the display time anew, so the stack never vanishes the moment a
// long read ends.
class fMail_Body final : public NotifyForm {
    Q_OBJECT
public:
    explicit fMail_Body(Forms& forms);

    void Form_Load() override;
    void Form_Unload() override;
    // 0: "閉じる" closes the window; 1: "削除" has no function.
    void Label2_Click(int index);

    Control* Label1() const { return label1_; } // account caption, Label1(8)
    Control* lblDate() const { return lblDate_; }
    Control* lblFrom() const { return lblFrom_; }
    Control* lblTitle() const { return lblTitle_; }
    QPlainTextEdit* Text1() const { return text1_; }
    Control* Label2(int index) const { return label2_[index == 0 ? 0 : 1]; }
    Control* Image1() const { return image1_; }

private:
    void CloseDetailWindow();

    Control* image1_;
    Control* label1_;
    Control* lblDate_;
    Control* lblFrom_;
    Control* lblTitle_;
    QPlainTextEdit* text1_;
    Control* label2_[2];
    qint16 unloadTimerSec_ = 0;
};

} // namespace notify
