#include "settings/mReadINI.h"

#include "settings/NumberText.h"
#include "platform/ProfileIni.h"
#include "platform/TextUtil.h"

namespace mReadINI {
namespace {

using SettingsKeys::Id;

QString readText(Id id, const QString& accountLabel = QString())
{
    return ProfileIni::GetString(SettingsKeys::Section(id), SettingsKeys::Name(id, accountLabel), IniPath);
}

// The display name is stored with one "#" appended; the name is what precedes the first "#".
QString readName(const QString& accountLabel)
{
    const QString stored = readText(Id::DisplayName, accountLabel);
    const qsizetype hash = stored.indexOf(u'#');
    return hash < 0 ? stored : stored.left(hash);
}

qint16 readNumber(Id id)
{
    const qint16 fallback = SettingsKeys::Get(id).defaultNumber;
    const QString stored = readText(id);
    if (stored.isEmpty()) return fallback;
    return NumberText::ToInt16(stored).value_or(fallback);
}

QString readNumberText(Id id)
{
    const QString stored = readText(id);
    return stored.isEmpty() ? SettingsKeys::DefaultText(id) : stored;
}

void giveAccount(const AccountSettings& a, QString& server, QString& user, QString& password, QString& displayName)
{
    server = a.server;
    user = a.user;
    password = a.password;
    displayName = a.displayName;
}

} // namespace

AccountSettings ReadAccount(const QString& accountLabel)
{
    AccountSettings a;
    a.server = readText(Id::Server, accountLabel);
    a.user = readText(Id::User, accountLabel);
    a.password = readText(Id::Password, accountLabel);
    a.displayName = readName(accountLabel);
    return a;
}

qint16 ReadInterval() { return readNumber(Id::Interval); }
qint16 ReadDisplaySeconds() { return readNumber(Id::DisplaySeconds); }
qint16 ReadAutoClose() { return readNumber(Id::AutoClose); }

MainSettings ReadMain()
{
    MainSettings m;
    m.account = ReadAccount(QStringLiteral("1"));
    m.receiveFolder = TextUtil::TrimSpaces(MailDir);
    m.interval = ReadInterval();
    m.displaySeconds = ReadDisplaySeconds();
    return m;
}

DialogSettings ReadDialog()
{
    DialogSettings d;
    d.account = ReadAccount(QStringLiteral("1"));
    d.intervalText = readNumberText(Id::Interval);
    d.displayText = readNumberText(Id::DisplaySeconds);
    d.autoCloseText = readNumberText(Id::AutoClose);
    return d;
}

void ReadMainSettings(QString& server, QString& user, QString& password, QString& displayName, QString& receiveFolder,
                      qint16& interval, qint16& displaySeconds)
{
    const MainSettings m = ReadMain();
    giveAccount(m.account, server, user, password, displayName);
    receiveFolder = m.receiveFolder;
    interval = m.interval;
    displaySeconds = m.displaySeconds;
}

void ReadAccountSettings(QString& server, QString& user, QString& password, QString& displayName,
                         const QString& accountLabel)
{
    giveAccount(ReadAccount(accountLabel), server, user, password, displayName);
}

void ReadDisplayFlags(qint16& autoClose) { autoClose = ReadAutoClose(); }

void ReadDialogSettings(QString& server, QString& user, QString& password, QString& displayName, QString& intervalText,
                        QString& displayText, QString& autoCloseText)
{
    const DialogSettings d = ReadDialog();
    giveAccount(d.account, server, user, password, displayName);
    intervalText = d.intervalText;
    displayText = d.displayText;
    autoCloseText = d.autoCloseText;
}

bool WriteSettings(const QString& server, const QString& user, const QString& password, const QString& displayName,
                   const QString& intervalText, const QString& autoCloseText, const QString& displayText,
                   const QString& accountLabel, QString* error)
{
    using SettingsKeys::Name;
    using SettingsKeys::Section;
    using TextUtil::TrimSpaces;
    // One replacement of the file, so a failure never leaves half an account behind.
    return ProfileIni::WriteStrings(
        {{Section(Id::Server), Name(Id::Server, accountLabel), TrimSpaces(server)},
         {Section(Id::User), Name(Id::User, accountLabel), TrimSpaces(user)},
         {Section(Id::Password), Name(Id::Password, accountLabel), TrimSpaces(password)},
         {Section(Id::DisplayName), Name(Id::DisplayName, accountLabel), TrimSpaces(displayName) + u'#'},
         {Section(Id::Interval), Name(Id::Interval), TrimSpaces(intervalText)},
         {Section(Id::DisplaySeconds), Name(Id::DisplaySeconds), TrimSpaces(displayText)},
         {Section(Id::AutoClose), Name(Id::AutoClose), TrimSpaces(autoCloseText)}},
        IniPath, error);
}

bool ClearAccountSettings(const QString& accountLabel, QString* error)
{
    QList<ProfileIni::Entry> entries;
    for (const Id id : SettingsKeys::kAccountKeys)
        entries.append({SettingsKeys::Section(id), SettingsKeys::Name(id, accountLabel), QString()});
    return ProfileIni::WriteStrings(entries, IniPath, error);
}

void ResetForTests()
{
    MailDir.clear();
    IniPath.clear();
    LogPath.clear();
    DummySource.clear();
    DummyPath.clear();
}

} // namespace mReadINI
