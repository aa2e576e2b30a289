#pragma once
#include "notify/NotifyForm.h"

namespace notify {

// The header strip above the highest card: how many mails the last check brought.
class fMail_Top final : public NotifyForm {
    Q_OBJECT
public:
    explicit fMail_Top(Forms& forms);

    void Form_Load() override;

    Control* lblDate() const { return lblDate_; }
    Control* Image1() const { return image1_; }

private:
    Control* image1_;
    Control* lblDate_;
};

} // namespace notify
