// The settings dialog's sign-in row, on the wood between the password box and the line below
// it: 「パスワードを鍵束に保存」 and, for a known OAuth2 provider's server, 「ログイン」.
// Every keyring and sign-in call runs on a worker: the dialog never waits on D-Bus or a
// browser with its event loop stopped.
#pragma once

#include "signin/OAuthProvider.h"

#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <vector>

class ClickLabel;
class QCheckBox;
class QLineEdit;
class QWidget;

class SignInControls : public QObject {
    Q_OBJECT
public:
    // `server`, `user` and `password` are the dialog's boxes.
    SignInControls(QWidget* dialog, QLineEdit* server, QLineEdit* user, QLineEdit* password);
    ~SignInControls() override;

    QCheckBox* KeyringBox() const { return keyringBox_; }
    ClickLabel* LoginLabel() const { return loginLabel_; }

    // An account was put into the boxes; `filePassword` is what the settings file holds. An
    // empty one is filled from the keyring when it has the account's password.
    void ShowAccount(const QString& server, const QString& user, const QString& filePassword);

    // Called on 適用 before the file is written: with the box ticked the password goes into
    // the keyring (read back to be sure) and `filePassword` becomes empty. When the keyring
    // refuses, the password stays in the file and `note` says why.
    void PrepareApply(QString& filePassword, QString* note);
    // After the file was written: unticking moved the password back, so the keyring's copy goes.
    void AfterApply();

Q_SIGNALS:
    // The keyring probe or a keyring read finished (tests wait on it).
    void Settled();

private:
    void Probed(bool available);
    void UpdateLogin();
    void Login();
    bool Portable() const;
    QString Server() const;
    QString User() const;

    QWidget* dialog_;
    QLineEdit* server_;
    QLineEdit* user_;
    QLineEdit* password_;
    QCheckBox* keyringBox_ = nullptr;
    ClickLabel* loginLabel_ = nullptr;
    std::vector<signin::OAuthProvider> providers_;

    bool available_ = false;
    bool probed_ = false;
    int shown_ = 0; // counts ShowAccount calls, so that a late keyring read is dropped
    bool removeOnApply_ = false;
    QString removeServer_, removeUser_;
    QFutureWatcher<bool> probe_;
    std::shared_ptr<std::atomic<bool>> cancel_;
};
