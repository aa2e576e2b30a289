#include "controller/ResidentController.h"

#include "platform/AppLog.h"
#include "platform/Clock.h"
#include "platform/Diagnostics.h"
#include "platform/FileOps.h"
#include "platform/TextUtil.h"
#include "controller/WorkFolders.h"
#include "controller/mM_CHKER.h"
#include "settings/mReadINI.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QStringList>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

const QString kFieldList = QStringLiteral("subject:from:date:nofile:");
// The library lists an account's mails newest first: these are the newest of each account.
constexpr int kMailsPerAccount = 100;

void warn(const QString& message) { Diagnostics::Warn(message); }

std::string utf8(const QString& text) { return text.toStdString(); }
QString fromUtf8(const std::string& text) { return QString::fromStdString(text); }

// The tables and counters belong to the GUI thread; a worker must never reach them.
void assertGuiThread()
{
    Q_ASSERT(!QCoreApplication::instance() || QThread::currentThread() == QCoreApplication::instance()->thread());
}

// A mail's key in the day log: its time line, for a reader of the log, then the name the
// library gave its file, which stands for the account and the server's id of the mail, so
// that two mails of one second are told apart and one mail keeps its key from check to check.
QString dayLogKey(const QString& timeLine, const QString& mailRef)
{
    QString name = mailRef.mid(mailRef.lastIndexOf(u'/') + 1);
    if (name.endsWith(QStringLiteral(".txt"))) name.chop(4);
    // One line per mail, whatever a name holds.
    name.removeIf([](QChar c) { return c.unicode() <= u' ' || c.unicode() == 0x7f; });
    return timeLine + u' ' + name;
}

} // namespace

ResidentController::ResidentController(ControllerHost& host, FormHost& forms, MailLibrary& mail)
    : host_(host), forms_(forms), mail_(mail), runner_(inlineRunner_), pushContext_(std::make_unique<QObject>())
{
}

ResidentController::ResidentController(ControllerHost& host, FormHost& forms, MailLibrary& mail, CheckRunner& runner)
    : host_(host), forms_(forms), mail_(mail), runner_(runner), pushContext_(std::make_unique<QObject>())
{
}

ResidentController::~ResidentController()
{
    // No watcher may queue news to a context that is gone.
    for (auto& watch : watches_) watch.reset();
}

void ResidentController::Form_Load(const QString& programFolder)
{
    const QDate today = Clock::current().now().date();
    WorkFolders::SetPaths(programFolder, today);
    QString error;
    // An incomplete installation is repaired rather than left to fail later.
    const bool repaired = WorkFolders::RepairInstallation(programFolder, &error);
    AppLog::SetPath(programFolder + QStringLiteral("/maildata/Dat/ferrowick.log"));
    if (!repaired) warn(error);
    if (!WorkFolders::StartDayLog(&error)) warn(error);

    mReadINI::ReadMainSettings(accounts_[1].server, accounts_[1].user, accounts_[1].password, mM_CHKER::AccountName[1],
                               receiveFolder_, revTimerMin_, unloadTimerSec_);
    mReadINI::ReadDisplayFlags(unloadFlag_);
    // Accounts whose password is empty ask the keyring or an OAuth2 grant before each check.
    // The resident never opens a browser: a needed sign-in is a status.
    for (const QString& line : mail_.UseCredentialSource(TextUtil::TrimSpaces(mReadINI::MailDir))) warn(line);
    mailClient_ = host_.FindMailClient();
    for (int k = 2; k <= 5; ++k)
        mReadINI::ReadAccountSettings(accounts_[k].server, accounts_[k].user, accounts_[k].password,
                                      mM_CHKER::AccountName[k], QString::number(k));
    // Nothing of an account no longer configured stays on disk.
    std::vector<std::pair<std::string, std::string>> configured;
    for (int k = 1; k <= 5; ++k) configured.emplace_back(utf8(accounts_[k].server), utf8(accounts_[k].user));
    mail_.KeepCachedMailsOnlyOf(utf8(TextUtil::TrimSpaces(receiveFolder_)), configured);
    startWatching(utf8(TextUtil::TrimSpaces(receiveFolder_)));
    mM_CHKER::MailIndex = 0;
    host_.StartTimers();
    tickCount_ = 0;
    // The first check waits for the event loop, so the tray icon is up before any server answers.
    runner_.Defer([this] { CheckMail([this] { endCheckCycle(); }); });
}

void ResidentController::startWatching(const std::string& folder)
{
    QObject* context = pushContext_.get();
    for (int k = 1; k <= 5; ++k) {
        // The texts the account's checks get (CheckMail).
        const Account& a = accounts_[static_cast<std::size_t>(k)];
        auto text = [k](const QString& t) { return utf8(k == 1 ? TextUtil::TrimSpaces(t) : t); };
        // The watcher's thread only posts to the GUI thread; the check runs there.
        watches_[static_cast<std::size_t>(k)] =
            mail_.Watch(text(a.server), text(a.user), text(a.password), folder, [this, context, k] {
                QMetaObject::invokeMethod(
                    context, [this, k] { MailboxChanged(k); }, Qt::QueuedConnection);
            });
    }
}

void ResidentController::endCheckCycle()
{
    // Only now: until the results are applied the receive folder holds files still to be read.
    WorkFolders::PurgeReceiveFolder();
    tickCount_ = 0;
    mM_CHKER::SetCloseTimeFromNow(unloadTimerSec_);
}

void ResidentController::setMenuEnabled(bool enabled)
{
    // "終了" is left alone: a user must always be able to quit, a check in flight or not.
    for (MenuItem item : {MenuItem::mnuPropaty, MenuItem::mnuMail, MenuItem::mnuRev, MenuItem::mnuOpen})
        host_.SetMenuItemEnabled(item, enabled);
}

void ResidentController::CheckMail(std::function<void()> then)
{
    assertGuiThread();
    if (checkInFlight_ || quitRequested_) return;
    host_.HideController();
    mM_CHKER::TrayIcon.tip = programName_;
    setMenuEnabled(false);
    host_.RegisterTrayIcon();
    checkInFlight_ = true;
    afterCheck_ = std::move(then);
    if (checkObserver_) checkObserver_(true);

    // Each worker gets its inputs by value and writes only its own result slot.
    const std::string folder = utf8(TextUtil::TrimSpaces(receiveFolder_));
    std::vector<std::function<void()>> tasks;
    for (int k = 1; k <= 5; ++k) {
        // Account 1 is trimmed; the others go as stored.
        const Account& a = accounts_[static_cast<std::size_t>(k)];
        std::string server = utf8(k == 1 ? TextUtil::TrimSpaces(a.server) : a.server);
        std::string user = utf8(k == 1 ? TextUtil::TrimSpaces(a.user) : a.user);
        std::string password = utf8(k == 1 ? TextUtil::TrimSpaces(a.password) : a.password);
        AccountResult* slot = &results_[static_cast<std::size_t>(k)];
        ReadCache* cache = &readCaches_[static_cast<std::size_t>(k)];
        *slot = AccountResult{};
        tasks.push_back([this, slot, cache, server, user, password, folder]() mutable {
            std::string mode = "SAVEALL";
            std::string receive = folder;
            // Only the newest mails, which the tables read, get a file.
            slot->mails = mail_.RcvMail(server, user, password, mode, receive, slot->status, kMailsPerAccount);
            // Reading only opens files, so it is done here too; the files stay until applied.
            readFields(mail_, *slot, *cache, receive);
            // A library that made files for them all anyway: what lies beyond is never read, and
            // removing it here spares the GUI thread's purge thousands of deletions.
            if (slot->mails)
                for (std::size_t i = kMailsPerAccount; i < slot->mails->size(); ++i)
                    if (!(*slot->mails)[i].empty())
                        FileOps::DeleteFileInFolder(fromUtf8((*slot->mails)[i]), fromUtf8(receive));
        });
    }
    runner_.Run(std::move(tasks), [this] { ApplyCheck(); });
}

void ResidentController::readFields(MailLibrary& mail, AccountResult& result, ReadCache& cache,
                                    const std::string& folder)
{
    ReadCache kept;
    if (result.mails) {
        const std::size_t last = std::min<std::size_t>(result.mails->size(), kMailsPerAccount);
        result.fields.reserve(last);
        for (std::size_t i = 0; i < last; ++i) {
            const std::string& ref = (*result.mails)[i];
            if (ref.empty()) {
                result.fields.emplace_back(); // no file: a mail the library did not fetch
                continue;
            }
            struct stat st {};
            const bool known = ::stat(ref.c_str(), &st) == 0 && S_ISREG(st.st_mode);
            ReadCacheEntry entry{static_cast<unsigned long long>(st.st_dev),
                                 static_cast<unsigned long long>(st.st_ino),
                                 static_cast<long long>(st.st_size),
                                 static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec,
                                 {}};
            const auto hit = cache.find(ref);
            if (known && hit != cache.end() && hit->second.device == entry.device && hit->second.inode == entry.inode &&
                hit->second.size == entry.size && hit->second.modifiedNs == entry.modifiedNs) {
                entry.fields = hit->second.fields;
            } else {
                std::string name = ref;
                std::string fieldList = utf8(kFieldList);
                std::string receive = folder;
                entry.fields = std::make_shared<const maillib::MailList>(mail.ReadMail(name, fieldList, receive));
            }
            result.fields.push_back(entry.fields);
            if (known) kept.insert_or_assign(ref, std::move(entry));
        }
    }
    // Only the mails of this check stay remembered.
    cache = std::move(kept);
}

void ResidentController::ApplyCheck()
{
    assertGuiThread();
    checkInFlight_ = false;
    if (quitRequested_) {
        // Ending: nothing is shown, and the check's files go with it.
        holdReceiveFolder(true);
        for (int k = 1; k <= 5; ++k)
            if (const auto& mails = results_[static_cast<std::size_t>(k)].mails)
                for (const std::string& ref : *mails) DeleteMailFile(fromUtf8(ref));
        holdReceiveFolder(false);
        endProgram();
        return;
    }

    qint64 total = 0;
    for (int k = 1; k <= 5; ++k)
        if (const auto& mails = results_[static_cast<std::size_t>(k)].mails)
            total += static_cast<qint64>(mails->size());
    mM_CHKER::MailCount = static_cast<qint32>(qMin<qint64>(total, std::numeric_limits<qint32>::max()));
    seenCount_ = 0;
    announced_ = 0;

    holdReceiveFolder(true);
    const WorkFolders::DayLogBatch dayLogBatch;
    for (int k = 1; k <= 5; ++k) {
        const AccountResult& result = results_[static_cast<std::size_t>(k)];
        if (!result.mails) continue;
        const QString label = QString::number(k);
        const int last =
            static_cast<int>(qMin<qsizetype>(static_cast<qsizetype>(result.mails->size()), kMailsPerAccount));
        applyingFields_ = &result.fields;
        for (int i = 0; i < last; ++i) {
            const QString mailRef = fromUtf8((*result.mails)[static_cast<std::size_t>(i)]);
            if (mailRef.isEmpty()) continue; // not fetched: nothing to read or delete
            StoreMailHeader(mailRef, i, label);
            DeleteMailFile(mailRef);
        }
        applyingFields_ = nullptr;
    }
    holdReceiveFolder(false);

    mM_CHKER::ExtraCount = mM_CHKER::MailCount > 5 ? mM_CHKER::MailCount - 5 : 0;
    mM_CHKER::PageOffset = 0;
    mM_CHKER::MailIndex = 0;
    // New is what was read and not announced before: never a mail beyond those read.
    newCount_ = announced_;
    showAccountStatus();
    if (newCount_ > 0) forms_.Show(FormId::fMail_Checker);
    setMenuEnabled(true);
    if (auto then = std::exchange(afterCheck_, {})) then();
    if (checkObserver_) checkObserver_(false);
    // News that came during the check is looked at now.
    if (std::exchange(pushPending_, false)) MailboxChanged(0);
}

void ResidentController::showAccountStatus()
{
    QList<AccountStatusBoard::Check> checks;
    keyringLocked_ = false;
    for (int k = 1; k <= 5; ++k) {
        const maillib::AccountStatus& status = results_[static_cast<std::size_t>(k)].status;
        checks.append({k, mM_CHKER::AccountName[static_cast<std::size_t>(k)], status});
        keyringLocked_ = keyringLocked_ || status.fault == maillib::Credential::Fault::KeyringLocked;
    }
    const AccountStatusBoard::Changes changes = board_.Record(checks, Clock::current().now());
    for (const QString& line : changes.logLines) AppLog::Append(line);
    for (const AccountStatusBoard::Notification& n : changes.notifications)
        host_.ShowNotification(n.title, n.text, n.failure);
    mM_CHKER::TrayIcon.tip = board_.ToolTip();
    host_.ShowTrayStatus(mM_CHKER::TrayIcon.tip, board_.Warning());
}

QString ResidentController::formatMailTime(const QString& value)
{
    // The same dates come back at every check; parsing them again costs more than the rest
    // of storing a header. GUI thread only, like every caller.
    static QHash<QString, QString> formatted;
    if (const auto hit = formatted.constFind(value); hit != formatted.constEnd()) return hit.value();
    if (formatted.size() >= 4096) formatted.clear();
    return formatted.insert(value, parseMailTime(value)).value();
}

QString ResidentController::parseMailTime(const QString& value)
{
    const QString text = value.trimmed();
    static const QStringList formats = {QStringLiteral("yyyy/MM/dd HH:mm:ss"), QStringLiteral("yyyy/M/d H:m:s"),
                                        QStringLiteral("yyyy-MM-dd HH:mm:ss"), QStringLiteral("yyyy/MM/dd HH:mm"),
                                        QStringLiteral("yyyy/MM/dd")};
    QDateTime when;
    for (const QString& format : formats) {
        when = QDateTime::fromString(text, format);
        if (when.isValid()) break;
    }
    if (!when.isValid()) when = QDateTime::fromString(text, Qt::ISODate);
    if (!when.isValid()) when = QDateTime::fromString(text, Qt::RFC2822Date);
    return when.isValid() ? when.toString(QStringLiteral("MM/dd HH:mm:ss")) : text;
}

void ResidentController::StoreMailHeader(const QString& mailRef, int position, const QString& label)
{
    assertGuiThread();
    // ReadMail's answer, read on the account's worker with its other mails.
    if (!applyingFields_ || position < 0 || static_cast<std::size_t>(position) >= applyingFields_->size()) return;
    const auto& shared = (*applyingFields_)[static_cast<std::size_t>(position)];
    if (!shared || !*shared) return;
    const maillib::MailList& result = *shared;

    auto valueOf = [&](std::size_t c) {
        const QString e = TextUtil::TrimSpaces(fromUtf8((*result)[c]));
        const qsizetype p = e.indexOf(u':');
        return p < 0 ? e : e.mid(p + 1);
    };

    if (mM_CHKER::MailIndex >= mM_CHKER::kLastSlot) {
        // The tables are full. The mail still counts, and its key is still looked up, so
        // that it is not announced as new at every check.
        if (result->size() > 2) lookUpDayLog(dayLogKey(QStringLiteral("Time: ") + formatMailTime(valueOf(2)), mailRef));
        return;
    }

    const auto s = static_cast<std::size_t>(++mM_CHKER::MailIndex);
    // A short result must not leave an earlier check's key in the slot to be looked up.
    for (mM_CHKER::MailTable* table : {&mM_CHKER::MailSubject, &mM_CHKER::MailFrom, &mM_CHKER::MailTime,
                                       &mM_CHKER::MailAccount, &mM_CHKER::MailBody})
        (*table)[s].clear();

    for (std::size_t c = 0; c < result->size(); ++c) {
        switch (c) {
        case 0:
            mM_CHKER::MailSubject[s] = QStringLiteral("Subject:") + TextUtil::LeftChars(valueOf(c), 12);
            break;
        case 1:
            mM_CHKER::MailFrom[s] =
                QStringLiteral("From: ") + TextUtil::LeftChars(TextUtil::TrimSpaces(valueOf(c)), 26);
            break;
        case 2:
            mM_CHKER::MailTime[s] = QStringLiteral("Time: ") + formatMailTime(valueOf(c));
            mM_CHKER::MailAccount[s] = label;
            break;
        case 4:
            mM_CHKER::MailBody[s] = valueOf(c);
            break;
        default:
            break;
        }
    }

    lookUpDayLog(dayLogKey(mM_CHKER::MailTime[s], mailRef));
}

void ResidentController::lookUpDayLog(const QString& key)
{
    if (WorkFolders::LookUpOrAppend(key)) ++seenCount_;
    else ++announced_;
}

void ResidentController::DeleteMailFile(const QString& mailRef)
{
    // Exactly the named file, and only inside the receive folder. While a check is applied the
    // folder is held open, so that it is not opened again for every mail.
    FileOps::DeleteFileInFolder(mailRef, TextUtil::TrimSpaces(receiveFolder_), receiveDirFd_);
}

void ResidentController::holdReceiveFolder(bool hold)
{
    if (receiveDirFd_ >= 0) ::close(receiveDirFd_);
    receiveDirFd_ = -1;
    const QString folder = TextUtil::TrimSpaces(receiveFolder_);
    if (hold && !folder.isEmpty())
        receiveDirFd_ = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}
