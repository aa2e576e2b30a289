#pragma once
// Answers the message boxes a dialog shows, as they appear, and records what they said.
#include <QAbstractButton>
#include <QApplication>
#include <QList>
#include <QMessageBox>
#include <QTimer>

struct Shown {
    QString title, text;
    QMessageBox::Icon icon;
};

// Answers each message box as it appears, in order, by clicking its button.
class Boxes : public QObject {
public:
    explicit Boxes(QList<QMessageBox::StandardButton> answers) : answers_(std::move(answers))
    {
        connect(&poll_, &QTimer::timeout, this, &Boxes::answer);
        poll_.start(5);
    }
    QList<Shown> shown;

private:
    void answer()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        shown.append({box->windowTitle(), box->text(), box->icon()});
        QAbstractButton* button = answers_.isEmpty() ? nullptr : box->button(answers_.takeFirst());
        (button ? button : box->buttons().constFirst())->click();
    }
    QList<QMessageBox::StandardButton> answers_;
    QTimer poll_;
};
