#pragma once
#include <QMessageBox>
#include <QString>

// The settings dialog's message boxes: no icon, the dialog's font, buttons in Japanese.
namespace DialogMessages {

// Questions, confirmations, write errors and the connection test's answer carry this title.
inline const QString kTitle = QStringLiteral("Ferrowick");
// The validation messages carry the program's own title instead. An explicit title gets the
// display name appended by Qt ("ferrowick — Ferrowick"), so this is the display name itself.
QString ProgramTitle();

QMessageBox::StandardButton Show(QWidget* parent, const QString& title, const QString& text,
                                 QMessageBox::StandardButtons buttons);
void Inform(QWidget* parent, const QString& title, const QString& text);
// A yes/no question under kTitle; true for yes.
bool Confirm(QWidget* parent, const QString& text);

} // namespace DialogMessages
