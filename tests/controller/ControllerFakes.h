#pragma once
#include "controller/ControllerHost.h"
#include "controller/FormHost.h"
#include "controller/MailLibrary.h"

#include <QFile>
#include <QMap>
#include <QSet>
#include <QStringList>
#include <functional>
#include <utility>

// One journal for every fake, so tests can assert the order of what a check did.
struct Journal {
    QStringList entries;
    void add(const QString& entry) { entries << entry; }
};

class FakeHost final : public ControllerHost {
public:
    explicit FakeHost(Journal& journal) : journal_(journal) {}
    void HideController() override { journal_.add(QStringLiteral("hide")); }
    void SetMenuItemEnabled(MenuItem item, bool enabled) override
    {
        enabled_[static_cast<int>(item)] = enabled;
        static const char* names[] = {"mnuPropaty", "mnuMail", "mnuRev", "mnuOpen", "mnuEnd"};
        journal_.add(QStringLiteral("%1=%2").arg(QLatin1String(names[static_cast<int>(item)])).arg(enabled));
    }
    void RegisterTrayIcon() override
    {
        journal_.add(QStringLiteral("tray+"));
        trayShown = true;
    }
    void RemoveTrayIcon() override
    {
        journal_.add(QStringLiteral("tray-"));
        trayShown = false;
    }
    void StartTimers() override { journal_.add(QStringLiteral("timers")); }
    void StopTimers() override { journal_.add(QStringLiteral("timers-off")); }
    QString FindMailClient() override { return mailClient; }
    bool StartMailClient(const QString& client, QString* error) override
    {
        journal_.add(QStringLiteral("start:") + client);
        if (client.isEmpty() && error) *error = QStringLiteral("none registered");
        return !client.isEmpty();
    }
    void Quit() override { journal_.add(QStringLiteral("quit")); }
    // Kept apart from the journal: they follow every check.
    void ShowTrayStatus(const QString& tip, bool warning) override
    {
        trayTip = tip;
        warningIcon = warning;
    }
    void ShowNotification(const QString& title, const QString& text, bool warning) override
    {
        notifications << (warning ? QStringLiteral("!") : QStringLiteral("+")) + title + u'|' + text;
    }

    bool isEnabled(MenuItem item) const { return enabled_[static_cast<int>(item)]; }
    bool anyMenuItemEnabled() const
    {
        for (bool e : enabled_)
            if (e) return true;
        return false;
    }
    bool allMenuItemsEnabled() const
    {
        for (bool e : enabled_)
            if (!e) return false;
        return true;
    }

    QString mailClient;
    bool trayShown = false;
    QString trayTip;
    bool warningIcon = false;
    QStringList notifications;

private:
    Journal& journal_;
    bool enabled_[5] = {true, true, false, true, true};
};

class FakeForms final : public FormHost {
public:
    explicit FakeForms(Journal& journal) : journal_(journal) {}
    static QString name(FormId f)
    {
        static const char* names[] = {"fMail_Checker", "fMail_Top", "fMail_Bot", "fMail_1",   "fMail_2",
                                      "fMail_3",       "fMail_4",   "fMail_5",   "fMail_Body"};
        return QLatin1String(names[static_cast<int>(f)]);
    }
    void Show(FormId f) override
    {
        journal_.add(QStringLiteral("show:") + name(f));
        visible_.insert(f);
    }
    void Unload(FormId f) override
    {
        if (!visible_.contains(f)) return;
        journal_.add(QStringLiteral("unload:") + name(f));
        visible_.remove(f);
    }
    bool IsLoaded(FormId f) const override { return visible_.contains(f); }
    bool IsVisible(FormId f) const override { return visible_.contains(f); }
    void ShowSettingsModal() override
    {
        journal_.add(QStringLiteral("settings"));
        if (whileSettingsOpen) whileSettingsOpen();
    }
    std::function<void()> whileSettingsOpen;

private:
    Journal& journal_;
    QSet<FormId> visible_;
};

// A mail library whose answers the test writes. Each account is addressed by its server text.
class ScriptedMail final : public MailLibrary {
public:
    explicit ScriptedMail(Journal& journal) : journal_(journal) {}

    // Files are real, so that the controller's deletion can be observed.
    QString addMail(const QString& folder, const QString& server, const QStringList& fields)
    {
        const QString ref = folder + QStringLiteral("/m%1.txt").arg(++counter_);
        QFile f(ref);
        if (f.open(QIODevice::WriteOnly)) f.write("mail");
        mailbox_[server] << ref;
        fields_[ref] = fields;
        return ref;
    }
    void failRead(const QString& ref) { fields_.remove(ref); }
    // A reference the library would never hand out, to see what the check does with it.
    void addRef(const QString& server, const QString& ref) { mailbox_[server] << ref; }
    void clear() { mailbox_.clear(); }

    maillib::MailList RcvMail(std::string& server, std::string& user, std::string& password, std::string& mode,
                              std::string& folder)
    {
        journal_.add(QStringLiteral("rcv:%1|%2|%3|%4")
                         .arg(QString::fromStdString(server), QString::fromStdString(user),
                              QString::fromStdString(password), QString::fromStdString(mode)));
        if (onRcv) onRcv();
        lastFolder = QString::fromStdString(folder);
        const QString key = QString::fromStdString(server).trimmed();
        if (!mailbox_.contains(key)) return std::nullopt;
        std::vector<std::string> refs;
        for (const QString& r : mailbox_[key]) refs.push_back(r.toStdString());
        return refs;
    }

    maillib::MailList ReadMail(std::string& mailRef, std::string& fieldList, std::string&) override
    {
        const QString ref = QString::fromStdString(mailRef);
        reads << ref;
        lastFieldList = QString::fromStdString(fieldList);
        if (!fields_.contains(ref)) return std::nullopt;
        std::vector<std::string> out;
        for (const QString& f : fields_[ref]) out.push_back(f.toStdString());
        return out;
    }

    // The status an account (by server text) reports; unset: Ok, or NotConfigured when blank.
    maillib::MailList RcvMail(std::string& server, std::string& user, std::string& password, std::string& mode,
                              std::string& folder, maillib::AccountStatus& status, std::size_t) override
    {
        maillib::MailList list = RcvMail(server, user, password, mode, folder);
        const QString key = QString::fromStdString(server).trimmed();
        status = {};
        if (statuses.contains(key)) status = statuses[key];
        else if (key.isEmpty() || QString::fromStdString(user).trimmed().isEmpty())
            status.kind = maillib::AccountStatus::Kind::NotConfigured;
        else status.kind = maillib::AccountStatus::Kind::Ok;
        return list;
    }

    void KeepCachedMailsOnlyOf(const std::string& folder,
                               const std::vector<std::pair<std::string, std::string>>& accounts) override
    {
        keptFolder = QString::fromStdString(folder);
        keptAccounts.clear();
        for (const auto& [server, user] : accounts)
            keptAccounts << QString::fromStdString(server) + u'|' + QString::fromStdString(user);
    }

    std::size_t RetryUnreachable() override
    {
        ++retries;
        return std::exchange(unreachable, 0);
    }
    void DropOpenConnections() override { ++drops; }
    bool KeyringOpenAgain() override
    {
        ++keyringAsks;
        return keyringOpen;
    }

    QMap<QString, maillib::AccountStatus> statuses;
    std::size_t unreachable = 0; // accounts RetryUnreachable frees, once
    int retries = 0;             // RetryUnreachable calls
    int drops = 0;               // DropOpenConnections calls
    bool keyringOpen = false;    // what KeyringOpenAgain answers
    int keyringAsks = 0;         // KeyringOpenAgain calls
    QString keptFolder;
    QStringList keptAccounts; // server|user, as the start-up handed them to KeepCachedMailsOnlyOf
    std::function<void()> onRcv;
    QStringList reads;
    QString lastFolder;
    QString lastFieldList;

private:
    Journal& journal_;
    QMap<QString, QStringList> mailbox_;
    QMap<QString, QStringList> fields_;
    int counter_ = 0;
};

inline QStringList mailFields(const QString& subject, const QString& from, const QString& date,
                              const QString& body = QStringLiteral("本文"))
{
    return {QStringLiteral("subject: ") + subject, QStringLiteral("from: ") + from, QStringLiteral("date: ") + date,
            QStringLiteral("nofile: "), QStringLiteral("body:") + body};
}
