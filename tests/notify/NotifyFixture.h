#pragma once
// Shared set-up of the window tests: a settings file, the shared tables and the fakes.
#include "notify/Forms.h"
#include "tests/common/ModuleState.h"
#include "tests/common/TestClock.h"
#include "controller/mM_CHKER.h"
#include "settings/mReadINI.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace notify_test {

// The offscreen platform cannot shape or raise windows and says so for every window; the
// masks are still recorded and asserted, so these notices are dropped.
inline void QuietOffscreenNotices()
{
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (message.startsWith(QLatin1String("This plugin does not support"))) return;
        if (previous) previous(type, context, message);
    });
}

constexpr int kDisplaySeconds = 30; // UNLOAD_TIMER_SEC in the test settings, not the default 10

inline const QString kAccountNames[6] = {QString(),
                                         QStringLiteral("仕事"),
                                         QStringLiteral("個人"),
                                         QStringLiteral("家族"),
                                         QStringLiteral("趣味"),
                                         QStringLiteral("予備")};

// Fills slot `slot` as the mail check would, for account `account` ("" for none).
inline void fillSlot(int slot, const QString& account)
{
    const QString n = QString::number(slot);
    mM_CHKER::MailSubject[slot] = QStringLiteral("Subject:件名") + n;
    mM_CHKER::MailFrom[slot] = QStringLiteral("From: sender") + n + QStringLiteral("@example.jp");
    mM_CHKER::MailTime[slot] = QStringLiteral("Time: 12/06 11:59:%1").arg(slot % 60, 2, 10, QLatin1Char('0'));
    mM_CHKER::MailAccount[slot] = account;
    mM_CHKER::MailBody[slot] = QStringLiteral("  本文%1\r\n二行目  ").arg(slot);
}

class Fixture {
public:
    Fixture()
    {
        ClearModuleState();
        mReadINI::IniPath = dir_.filePath(QStringLiteral("maildata.ini"));
        for (int k = 1; k <= 5; ++k) {
            if (!mReadINI::WriteSettings(QStringLiteral("pop.example.jp"), QStringLiteral("user"),
                                         QStringLiteral("pass"), kAccountNames[k], QStringLiteral("60"),
                                         QStringLiteral("1"), QString::number(kDisplaySeconds), QString::number(k)))
                qFatal("cannot write the test settings");
            mM_CHKER::AccountName[std::size_t(k)] = kAccountNames[k]; // as the controller reads them at start
        }
        forms_ = std::make_unique<notify::Forms>();
    }
    ~Fixture()
    {
        forms_.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    Fixture(const Fixture&) = delete;
    Fixture& operator=(const Fixture&) = delete;

    notify::Forms& forms() { return *forms_; }
    TestClock clock;

    // Sets MailCount (and ExtraCount as the check does) and fills slots 1..count.
    void mails(int count)
    {
        mM_CHKER::MailCount = count;
        mM_CHKER::ExtraCount = count > 5 ? count - 5 : 0;
        for (int s = 1; s <= qMin(count, mM_CHKER::kLastSlot); ++s) fillSlot(s, QString::number((s - 1) % 5 + 1));
    }

private:
    QTemporaryDir dir_;
    std::unique_ptr<notify::Forms> forms_;
};

} // namespace notify_test
