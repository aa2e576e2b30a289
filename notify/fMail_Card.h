#pragma once
#include "notify/NotifyForm.h"

namespace notify {

// Mail card k (fMail_1 .. fMail_5): shows slot PageOffset + k of the last check's tables.
// A click anywhere on it opens the detail window for that mail.
class fMail_Card final : public NotifyForm {
    Q_OBJECT
public:
    fMail_Card(Forms& forms, int k);

    int k() const { return k_; }
    void Form_Load() override;
    void Image1_Click();

    Control* lblAcount() const { return lblAcount_; }
    Control* lblNo() const { return lblNo_; }
    Control* lblDate() const { return lblDate_; }
    Control* lblFrom() const { return lblFrom_; }
    Control* lblTitle() const { return lblTitle_; }
    Control* Image1() const { return image1_; }

private:
    qint64 slot() const;

    int k_;
    // The mail's body as it was when the card loaded, so that the card always opens the mail it
    // shows even after a check has moved the mails to other slots.
    QString body_;
    Control* image1_;
    Control* lblAcount_;
    Control* lblNo_;
    Control* lblDate_;
    Control* lblFrom_;
    Control* lblTitle_;
};

} // namespace notify
