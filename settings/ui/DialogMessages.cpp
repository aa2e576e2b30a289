#include "settings/ui/DialogMessages.h"

#include "platform/JapaneseFont.h"

#include <QGuiApplication>
#include <QPushButton>

namespace DialogMessages {

QString ProgramTitle() { return QGuiApplication::applicationDisplayName(); }

QMessageBox::StandardButton Show(QWidget* parent, const QString& title, const QString& text,
                                 QMessageBox::StandardButtons buttons)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, buttons, parent);
    box.setFont(JapaneseUiFont(9));
    if (auto* b = box.button(QMessageBox::Yes)) b->setText(QStringLiteral("はい"));
    if (auto* b = box.button(QMessageBox::No)) b->setText(QStringLiteral("いいえ"));
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void Inform(QWidget* parent, const QString& title, const QString& text) { Show(parent, title, text, QMessageBox::Ok); }

bool Confirm(QWidget* parent, const QString& text)
{
    return Show(parent, kTitle, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

} // namespace DialogMessages
