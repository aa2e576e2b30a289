#include "ResidentController.h"

#include "Clock.h"
#include "FileOps.h"
#include "TextUtil.h"
#include "WorkFolders.h"
#include "mM_CHKER.h"
#include "mReadINI.h"

#include <QDateTime>
#include <QStringList>
#include <cstdio>
#include <limits>

namespace {

const QString kFieldList = QStringLiteral("subject:from:date:nofile:");
constexpr int kMailsPerAccount = 100;

void warn(const QString& message) { std::fprintf(stderr, "ferrowick: %s\n", qPrintable(message)); }

std::string utf8(const QString& text) { return text.toStdString(); }
QString fromUtf8(const std::string& text) { return QString::fromStdString(text); }

} // namespace

ResidentController::ResidentController(ControllerHost& host, FormHost& forms, MailLibrary& mail)
    : host_(host), forms_(forms), mail_(mail)
{
}

void ResidentController::Form_Load(const QString& programFolder)
{
    const QDate today = Clock::current().now().date();
    WorkFolders::SetPaths(programFolder, today);
    QString error;
    // An incomplete installation is repaired rather than left to fail later.
    if (!WorkFolders::RepairInstallation(programFolder, &error)) warn(error);
    if (!WorkFolders::StartDayLog(&error)) warn(error);

    mReadINI::ReadMainSettings(accounts_[1].server, accounts_[1].user, accounts_[1].password, mReadINI::AccountName[1],
                               receiveFolder_, revTimerMin_, unloadTimerSec_);
    mReadINI::ReadDisplayFlags(unloadFlag_);
    mailClient_ = host_.FindMailClient();
    for (int k = 2; k <= 5; ++k)
        mReadINI::ReadAccountSettings(accounts_[k].server, accounts_[k].user, accounts_[k].password,
                                      mReadINI::AccountName[k], QString::number(k));
    mM_CHKER::MailIndex = 0;
    host_.StartTimers();
    tickCount_ = 0;
    CheckMail();
    WorkFolders::PurgeReceiveFolder();
    mM_CHKER::SetCloseTimeFromNow(unloadTimerSec_);
}

void ResidentController::Timer1_Timer()
{
    // Counted in int so that a limit of 32767 cannot wrap the count past it.
    const int next = tickCount_ + 1;
    if (next >= revTimerMin_) {
        CheckMail();
        WorkFolders::PurgeReceiveFolder();
        tickCount_ = 0;
        mM_CHKER::SetCloseTimeFromNow(unloadTimerSec_);
    } else {
        tickCount_ = static_cast<qint16>(next);
    }
}

void ResidentController::Timer2_Timer()
{
    if (unloadFlag_ == 0) return;
    if (!forms_.IsVisible(FormId::fMail_Checker)) return;
    if (mM_CHKER::CloseTimeReached()) {
        CloseNotifyWindows();
        forms_.Unload(FormId::fMail_Checker);
    }
}

void ResidentController::setMenuEnabled(bool enabled)
{
    for (MenuItem item : {MenuItem::mnuPropaty, MenuItem::mnuMail, MenuItem::mnuRev, MenuItem::mnuOpen, MenuItem::mnuEnd})
        host_.SetMenuItemEnabled(item, enabled);
}

void ResidentController::CheckMail()
{
    host_.HideController();
    mM_CHKER::TrayIcon.tip = QStringLiteral("Ferrowick");
    setMenuEnabled(false);
    host_.RegisterTrayIcon();

    std::string mode = "SAVEALL";
    std::string folder = utf8(TextUtil::TrimSpaces(receiveFolder_));
    std::array<maillib::MailList, 6> results;
    {
        std::string server = utf8(TextUtil::TrimSpaces(accounts_[1].server));
        std::string user = utf8(TextUtil::TrimSpaces(accounts_[1].user));
        std::string password = utf8(TextUtil::TrimSpaces(accounts_[1].password));
        results[1] = mail_.RcvMail(server, user, password, mode, folder);
    }
    for (int k = 2; k <= 5; ++k) {
        std::string server = utf8(accounts_[k].server);
        std::string user = utf8(accounts_[k].user);
        std::string password = utf8(accounts_[k].password);
        results[k] = mail_.RcvMail(server, user, password, mode, folder);
        // The stored texts take back whatever the library leaves in them.
        accounts_[k].server = fromUtf8(server);
        accounts_[k].user = fromUtf8(user);
        accounts_[k].password = fromUtf8(password);
    }

    qint64 total = 0;
    for (int k = 1; k <= 5; ++k)
        if (results[k]) total += static_cast<qint64>(results[k]->size());
    mM_CHKER::MailCount = static_cast<qint32>(qMin<qint64>(total, std::numeric_limits<qint32>::max()));
    mReadINI::SeenCount = 0;

    for (int k = 1; k <= 5; ++k) {
        if (!results[k]) continue;
        const QString label = QString::number(k);
        const int last = static_cast<int>(qMin<qsizetype>(static_cast<qsizetype>(results[k]->size()), kMailsPerAccount));
        for (int i = 0; i < last; ++i) {
            const QString mailRef = fromUtf8((*results[k])[static_cast<std::size_t>(i)]);
            StoreMailHeader(mailRef, i, label);
            DeleteMailFile(mailRef);
        }
    }

    mM_CHKER::ExtraCount = mM_CHKER::MailCount > 5 ? mM_CHKER::MailCount - 5 : 0;
    mM_CHKER::PageOffset = 0;
    mM_CHKER::MailIndex = 0;
    newCount_ = mM_CHKER::MailCount - mReadINI::SeenCount;
    if (newCount_ > 0) forms_.Show(FormId::fMail_Checker);
    setMenuEnabled(true);
}

QString ResidentController::formatMailTime(const QString& value)
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

void ResidentController::StoreMailHeader(const QString& mailRef, int /*position*/, const QString& label)
{
    std::string ref = utf8(mailRef);
    std::string fields = utf8(kFieldList);
    std::string folder = utf8(TextUtil::TrimSpaces(receiveFolder_));
    const maillib::MailList result = mail_.ReadMail(ref, fields, folder);
    if (!result) return;

    auto valueOf = [&](std::size_t c) {
        const QString e = TextUtil::TrimSpaces(fromUtf8((*result)[c]));
        const qsizetype p = e.indexOf(u':');
        return p < 0 ? e : e.mid(p + 1);
    };

    if (mM_CHKER::MailIndex >= mM_CHKER::kLastSlot) {
        // The tables are full. The mail still counts, and its key is still looked up, so
        // that it is not announced as new at every check.
        if (result->size() > 2) {
            const QString key = QStringLiteral("Time: ") + formatMailTime(valueOf(2));
            if (WorkFolders::LookUpOrAppend(key)) ++mReadINI::SeenCount;
        }
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
            mM_CHKER::MailFrom[s] = QStringLiteral("From: ") + TextUtil::LeftChars(TextUtil::TrimSpaces(valueOf(c)), 26);
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

    if (WorkFolders::LookUpOrAppend(mM_CHKER::MailTime[s])) ++mReadINI::SeenCount;
}

void ResidentController::DeleteMailFile(const QString& mailRef)
{
    // Exactly the named file, and only inside the receive folder.
    FileOps::DeleteFileInFolder(mailRef, TextUtil::TrimSpaces(receiveFolder_));
}

void ResidentController::CloseNotifyWindows()
{
    for (FormId form : {FormId::fMail_1, FormId::fMail_2, FormId::fMail_3, FormId::fMail_4, FormId::fMail_5,
                        FormId::fMail_Top, FormId::fMail_Bot, FormId::fMail_Body})
        forms_.Unload(form);
}

void ResidentController::mnuMail_Click()
{
    QString error;
    if (!host_.StartMailClient(mailClient_, &error)) warn(QStringLiteral("cannot start the mail program: ") + error);
    forms_.Unload(FormId::fMail_Checker);
    host_.HideController();
}

void ResidentController::mnuPropaty_Click() { forms_.ShowSettingsModal(); }

void ResidentController::mnuRev_Click()
{
    tickCount_ = revTimerMin_;
    Timer1_Timer();
}

void ResidentController::mnuOpen_Click()
{
    mM_CHKER::SetCloseTimeFromNow(unloadTimerSec_);
    mM_CHKER::PageOffset = 0;
    forms_.Show(FormId::fMail_Checker);
}

void ResidentController::mnuEnd_Click()
{
    CloseNotifyWindows();
    forms_.Unload(FormId::fMail_Checker);
    host_.RemoveTrayIcon();
    host_.Quit();
}
