#pragma once
#include "settings/ui/ClickLabel.h"

#include <QDialog>
#include <QLabel>
#include <QLine>
#include <QPixmap>
#include <QString>
#include <array>

class SignInControls;
class QCheckBox;
class QComboBox;
class QLineEdit;

// The settings dialog: one set of boxes for the account chosen in Combo1 plus the three
// global timings. Applying writes that one account and the globals; applying and deleting
// both close the dialog, so one opening changes at most one account. The controller keeps its
// timers off while the dialog is open.
class fM_PALAM : public QDialog {
    Q_OBJECT
public:
    // Opens a fresh dialog, waits until it is closed and destroys it.
    static void ShowModal(QWidget* parent = nullptr);

    explicit fM_PALAM(QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Account {
        QString server, user, password, displayName;
    };

    void buildControls();
    void Form_Load();
    void Form_Activate();
    void Combo1_Click();
    void Check1_Click();
    void popServer_KeyPress(int index);
    void Label2_Click(int index);
    void ShowAccount(const QString& server, const QString& user, const QString& password, const QString& displayName,
                     const QString& intervalText, const QString& displayText, const QString& autoCloseText);
    void ApplyDeleteLabelRule();
    void ApplySettings();
    void DeleteAccount();
    static void CenterOnScreen(QWidget* form);
    // The account number the list selects: its position + 1, as text.
    QString selectedLabel() const;

    QComboBox* Combo1 = nullptr;
    QLineEdit* Text1 = nullptr;
    std::array<QLineEdit*, 5> popServer{};
    std::array<QLabel*, 10> Label1{};
    std::array<ClickLabel*, 3> Label2{};
    std::array<QLine, 4> Line1{};
    QCheckBox* Check1 = nullptr;
    ClickLabel* TestLabel = nullptr;
    SignInControls* signIn_ = nullptr;
    QPixmap background_;

    // The file as it was when the dialog opened; accounts 1..5 at 0..4.
    std::array<Account, 5> accounts_{};
    QString intervalText_;
    QString displayText_;
    QString autoCloseText_;

    bool ListReady = false;
    bool activated_ = false;
};
