#include "mReadINI.h"

#include "NumberText.h"
#include "ProfileIni.h"
#include "TextUtil.h"

namespace mReadINI {
namespace {

const QString kPop = QStringLiteral("POP");
const QString kMailRev = QStringLiteral("MAIL_REV");
const QString kAboutPalam = QStringLiteral("ABOUT_PALAM");

QString readText(const QString& section, const QString& key)
{
    return ProfileIni::GetString(section, key, IniPath);
}

// The display name is stored with one "#" appended; the name is what precedes the first "#".
QString readName(const QString& key)
{
    const QString stored = readText(kPop, key);
    const qsizetype hash = stored.indexOf(u'#');
    return hash < 0 ? stored : stored.left(hash);
}

qint16 readNumber(const QString& section, const QString& key, qint16 fallback)
{
    const QString stored = readText(section, key);
    if (stored.isEmpty()) return fallback;
    return NumberText::ToInt16(stored).value_or(fallback);
}

QString readNumberText(const QString& section, const QString& key, const QString& fallback)
{
    const QString stored = readText(section, key);
    return stored.isEmpty() ? fallback : stored;
}

void readAccount(const QString& label, QString& server, QString& user, QString& password, QString& displayName)
{
    server = readText(kPop, QStringLiteral("POP_SERVER") + label);
    user = readText(kPop, QStringLiteral("USER") + label);
    password = readText(kPop, QStringLiteral("PASS") + label);
    displayName = readName(QStringLiteral("NAME") + label);
}

} // namespace

void ReadMainSettings(QString& server, QString& user, QString& password, QString& displayName, QString& receiveFolder,
                      qint16& interval, qint16& displaySeconds)
{
    readAccount(QStringLiteral("1"), server, user, password, displayName);
    receiveFolder = TextUtil::TrimSpaces(MailDir);
    interval = readNumber(kMailRev, QStringLiteral("REV_TIMER_MIN"), kDefaultInterval);
    displaySeconds = readNumber(kMailRev, QStringLiteral("UNLOAD_TIMER_SEC"), kDefaultDisplaySeconds);
}

void ReadAccountSettings(QString& server, QString& user, QString& password, QString& displayName,
                         const QString& accountLabel)
{
    readAccount(accountLabel, server, user, password, displayName);
}

void ReadDisplayFlags(qint16& autoClose)
{
    autoClose = readNumber(kAboutPalam, QStringLiteral("UNLOAD_FLAG"), kDefaultAutoClose);
}

void ReadDialogSettings(QString& server, QString& user, QString& password, QString& displayName, QString& intervalText,
                        QString& displayText, QString& autoCloseText)
{
    readAccount(QStringLiteral("1"), server, user, password, displayName);
    intervalText = readNumberText(kMailRev, QStringLiteral("REV_TIMER_MIN"), QStringLiteral("5"));
    displayText = readNumberText(kMailRev, QStringLiteral("UNLOAD_TIMER_SEC"), QStringLiteral("10"));
    autoCloseText = readNumberText(kAboutPalam, QStringLiteral("UNLOAD_FLAG"), QStringLiteral("0"));
}

bool WriteSettings(const QString& server, const QString& user, const QString& password, const QString& displayName,
                   const QString& intervalText, const QString& autoCloseText, const QString& displayText,
                   const QString& accountLabel, QString* error)
{
    using TextUtil::TrimSpaces;
    // One replacement of the file, so a failure never leaves half an account behind.
    return ProfileIni::WriteStrings({{kPop, QStringLiteral("POP_SERVER") + accountLabel, TrimSpaces(server)},
                                     {kPop, QStringLiteral("USER") + accountLabel, TrimSpaces(user)},
                                     {kPop, QStringLiteral("PASS") + accountLabel, TrimSpaces(password)},
                                     {kPop, QStringLiteral("NAME") + accountLabel, TrimSpaces(displayName) + u'#'},
                                     {kMailRev, QStringLiteral("REV_TIMER_MIN"), TrimSpaces(intervalText)},
                                     {kMailRev, QStringLiteral("UNLOAD_TIMER_SEC"), TrimSpaces(displayText)},
                                     {kAboutPalam, QStringLiteral("UNLOAD_FLAG"), TrimSpaces(autoCloseText)}},
                                    IniPath, error);
}

bool ClearAccountSettings(const QString& accountLabel, QString* error)
{
    return ProfileIni::WriteStrings({{kPop, QStringLiteral("POP_SERVER") + accountLabel, QString()},
                                     {kPop, QStringLiteral("USER") + accountLabel, QString()},
                                     {kPop, QStringLiteral("PASS") + accountLabel, QString()},
                                     {kPop, QStringLiteral("NAME") + accountLabel, QString()}},
                                    IniPath, error);
}

void ResetForTests()
{
    MailDir.clear();
    IniPath.clear();
    LogPath.clear();
    DummySource.clear();
    DummyPath.clear();
    SeenCount = 0;
    AccountName.fill(QString());
}

} // namespace mReadINI
