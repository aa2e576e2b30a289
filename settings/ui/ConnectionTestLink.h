#pragma once
#include <QObject>
#include <QString>
#include <functional>

class ClickLabel;
class ConnectionTester;
class QWidget;

// The settings dialog's 「接続テスト」. A click on its caption tries the account as typed in the
// boxes, off the GUI thread, and the answer comes in a message box over the dialog. While a
// test runs the caption is greyed and clicks on it do nothing. The dialog owns the link; a
// dialog closed meanwhile gets no answer.
class ConnectionTestLink final : public QObject {
    Q_OBJECT
public:
    struct Typed {
        QString server, user, password;
    };
    // `typed` reads the boxes at each click.
    ConnectionTestLink(ClickLabel* caption, std::function<Typed()> typed, QWidget* dialog);

private:
    void Start();

    ClickLabel* caption_;
    std::function<Typed()> typed_;
    QWidget* dialog_;
    ConnectionTester* tester_;
};
