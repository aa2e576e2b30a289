#pragma once
#include <QString>
#include <array>

// Every key of maildata.ini in one table: where it lives, what it holds and what a missing or
// empty value means. The routines in mReadINI and the settings dialog name keys only through it.
namespace SettingsKeys {

enum class Id { Server, User, Password, DisplayName, Interval, DisplaySeconds, AutoClose };

enum class Kind {
    Text,        // stored trimmed
    DisplayName, // stored with one "#" appended; read up to the first "#"
    Number,      // a 16-bit whole number; the dialog shows the stored text as it is
};

struct Key {
    Id id;
    const char16_t* section;
    const char16_t* name; // an account key is followed by the account's label, "1" to "5"
    bool perAccount;
    Kind kind;
    qint16 defaultNumber; // for Number keys: the value of a missing, empty or unreadable entry
};

inline constexpr std::array<Key, 7> kTable{{
    {Id::Server, u"POP", u"POP_SERVER", true, Kind::Text, 0},
    {Id::User, u"POP", u"USER", true, Kind::Text, 0},
    {Id::Password, u"POP", u"PASS", true, Kind::Text, 0},
    {Id::DisplayName, u"POP", u"NAME", true, Kind::DisplayName, 0},
    {Id::Interval, u"MAIL_REV", u"REV_TIMER_MIN", false, Kind::Number, 5},
    {Id::DisplaySeconds, u"MAIL_REV", u"UNLOAD_TIMER_SEC", false, Kind::Number, 10},
    {Id::AutoClose, u"ABOUT_PALAM", u"UNLOAD_FLAG", false, Kind::Number, 0},
}};

constexpr const Key& Get(Id id)
{
    for (const Key& key : kTable)
        if (key.id == id) return key;
    return kTable[0]; // unreachable: every Id has its row
}

// The keys of one account, in the order the settings are written.
inline constexpr std::array<Id, 4> kAccountKeys{Id::Server, Id::User, Id::Password, Id::DisplayName};

inline QString Section(Id id) { return QString::fromUtf16(Get(id).section); }

// The key's name in the file; account keys need the account's label.
inline QString Name(Id id, const QString& accountLabel = QString())
{
    const Key& key = Get(id);
    return QString::fromUtf16(key.name) + (key.perAccount ? accountLabel : QString());
}

// What the dialog shows for a missing or empty entry.
inline QString DefaultText(Id id)
{
    const Key& key = Get(id);
    return key.kind == Kind::Number ? QString::number(key.defaultNumber) : QString();
}

} // namespace SettingsKeys
