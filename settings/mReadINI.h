#pragma once
#include "settings/SettingsKeys.h"

#include <QString>

// The settings file maildata.ini and the program-wide work paths. Every read and write of
// the settings goes through these routines; they keep no cache, so a read sees the last write.
namespace mReadINI {

// Work paths, fixed at start-up.
inline QString MailDir;     // receive folder: the mail library leaves fetched mails here as *.txt
inline QString IniPath;     // the settings file
inline QString LogPath;     // the day log of this run
inline QString DummySource; // placeholder delivered with the program, never changed
inline QString DummyPath;   // its working copy inside the receive folder

constexpr qint16 kDefaultInterval = SettingsKeys::Get(SettingsKeys::Id::Interval).defaultNumber;
constexpr qint16 kDefaultDisplaySeconds = SettingsKeys::Get(SettingsKeys::Id::DisplaySeconds).defaultNumber;
constexpr qint16 kDefaultAutoClose = SettingsKeys::Get(SettingsKeys::Id::AutoClose).defaultNumber;

struct AccountSettings {
    QString server;
    QString user;
    QString password;
    QString displayName; // without the stored "#"
};

struct MainSettings {
    AccountSettings account; // account 1
    QString receiveFolder;
    qint16 interval = kDefaultInterval;
    qint16 displaySeconds = kDefaultDisplaySeconds;
};

struct DialogSettings {
    AccountSettings account; // account 1
    QString intervalText;    // as stored, or the default as text
    QString displayText;
    QString autoCloseText;
};

// The struct-returning forms; the routines below give the same values through out-parameters.
MainSettings ReadMain();
AccountSettings ReadAccount(const QString& accountLabel);
DialogSettings ReadDialog();
// One value each, for callers that need only that one; nothing else is read or changed.
qint16 ReadInterval();
qint16 ReadDisplaySeconds();
qint16 ReadAutoClose();

void ReadMainSettings(QString& server, QString& user, QString& password, QString& displayName, QString& receiveFolder,
                      qint16& interval, qint16& displaySeconds);
void ReadAccountSettings(QString& server, QString& user, QString& password, QString& displayName,
                         const QString& accountLabel);
void ReadDisplayFlags(qint16& autoClose);
void ReadDialogSettings(QString& server, QString& user, QString& password, QString& displayName, QString& intervalText,
                        QString& displayText, QString& autoCloseText);

// Both return false, with the reason in `error`, when the file could not be written; the
// file is then unchanged.
bool WriteSettings(const QString& server, const QString& user, const QString& password, const QString& displayName,
                   const QString& intervalText, const QString& autoCloseText, const QString& displayText,
                   const QString& accountLabel, QString* error = nullptr);
bool ClearAccountSettings(const QString& accountLabel, QString* error = nullptr);

// Clears the shared state (tests).
void ResetForTests();

} // namespace mReadINI
