#pragma once
// The set-up every controller test starts from: the module state cleared, a program folder of
// its own, a clock standing still, fakes for the tray and the windows writing one journal, and
// the controller over the test's mail library, its checks run inline or on a pool as the
// program runs them. A test class derives from it, calls SetUp from init() (or at the start of
// a test) and TearDown from cleanup().
#include "controller/ResidentController.h"
#include "controller/ThreadPoolCheckRunner.h"
#include "settings/mReadINI.h"
#include "tests/common/ModuleState.h"
#include "tests/common/TestClock.h"
#include "tests/controller/ControllerFakes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

template <class Mail> class ControllerFixture {
protected:
    struct Options {
        int poolThreads = 0; // > 0: checks on a pool of that many threads
        QDateTime now = QDateTime(QDate(2026, 12, 6), QTime(12, 0, 0));
        QString programFolder; // empty: a fresh temporary one
    };

    // `makeMail` runs once the program folder and the journal exist.
    void SetUp(const std::function<std::unique_ptr<Mail>()>& makeMail, const Options& options)
    {
        TearDown();
        ClearModuleState();
        if (options.programFolder.isEmpty()) {
            dir_ = std::make_unique<QTemporaryDir>();
            programFolder_ = dir_->path();
        } else {
            dir_.reset();
            programFolder_ = options.programFolder;
        }
        QDir().mkpath(mailDir() + QStringLiteral("/INI"));
        clock_ = std::make_unique<TestClock>(options.now);
        journal_.entries.clear();
        host_ = std::make_unique<FakeHost>(journal_);
        forms_ = std::make_unique<FakeForms>(journal_);
        mail_ = makeMail();
        if (options.poolThreads > 0) {
            runner_ = std::make_unique<ThreadPoolCheckRunner>(options.poolThreads);
            ctl_ = std::make_unique<ResidentController>(*host_, *forms_, *mail_, *runner_);
        } else {
            ctl_ = std::make_unique<ResidentController>(*host_, *forms_, *mail_);
        }
    }
    void SetUp(const std::function<std::unique_ptr<Mail>()>& makeMail) { SetUp(makeMail, Options{}); }

    void TearDown()
    {
        if (runner_) {
            // Nothing may stay blocked behind a failed test. Only then: the real library stays
            // cancelled for the rest of the process.
            if (ctl_ && ctl_->CheckInFlight()) mail_->Cancel();
            const bool done = runner_->WaitForDone(5000);
            QCoreApplication::processEvents();
            QVERIFY2(done, "a check was still running at the end of the test");
        }
        ctl_.reset();
        runner_.reset();
        mail_.reset();
        clock_.reset();
    }

    QString programFolder() const { return programFolder_; }
    QString mailDir() const { return programFolder_ + QStringLiteral("/maildata"); }

    // Replaces the settings file.
    void writeSettingsFile(const QByteArray& ini)
    {
        QFile file(mailDir() + QStringLiteral("/INI/maildata.ini"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(file.write(ini) == ini.size());
    }

    // The day log of this run as text.
    static QString dayLog()
    {
        QFile f(mReadINI::LogPath);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    // The program's own log as text.
    QString appLog() const
    {
        QFile f(mailDir() + QStringLiteral("/Dat/ferrowick.log"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<TestClock> clock_;
    Journal journal_;
    std::unique_ptr<FakeHost> host_;
    std::unique_ptr<FakeForms> forms_;
    std::unique_ptr<Mail> mail_;
    std::unique_ptr<ThreadPoolCheckRunner> runner_;
    std::unique_ptr<ResidentController> ctl_;

private:
    QString programFolder_;
};
