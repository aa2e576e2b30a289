#include "controller/fMail_Task.h"

#include "platform/MailtoHandler.h"
#include "controller/DesktopNotification.h"
#include "controller/TrayWarningIcon.h"
#include "controller/mM_CHKER.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QPainter>
#include <QPixmap>

namespace {

QIcon trayIconPicture()
{
    QIcon icon(QStringLiteral(":/assets/tray_icon.png"));
    if (!icon.isNull()) return icon;
    // Without the picture the tray still gets a recognisable red box.
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.fillRect(6, 4, 20, 24, QColor(200, 30, 30));
    return QIcon(pixmap);
}

} // namespace

fMail_Task::fMail_Task(FormHost& forms, MailLibrary& mail, QObject* parent)
    : QObject(parent), mnuMain_(new QMenu(QStringLiteral("メニュー"))), logic_(*this, forms, mail)
{
    setUp();
}

fMail_Task::fMail_Task(FormHost& forms, MailLibrary& mail, CheckRunner& runner, QObject* parent)
    : QObject(parent), mnuMain_(new QMenu(QStringLiteral("メニュー"))), logic_(*this, forms, mail, runner)
{
    setUp();
}

void fMail_Task::setUp()
{
    const std::array<std::pair<MenuItem, QString>, 5> items = {{
        {MenuItem::mnuMail, QStringLiteral("メール起動")},
        {MenuItem::mnuPropaty, QStringLiteral("プロパティ")},
        {MenuItem::mnuRev, QStringLiteral("最新メール受信")},
        {MenuItem::mnuOpen, QStringLiteral("開く")},
        {MenuItem::mnuEnd, QStringLiteral("終了")},
    }};
    for (const auto& [item, caption] : items) actions_[static_cast<std::size_t>(item)] = mnuMain_->addAction(caption);
    // Reachable once the first check has enabled the menu.
    menuAction(MenuItem::mnuRev)->setEnabled(false);

    connect(menuAction(MenuItem::mnuMail), &QAction::triggered, this, [this] { logic_.mnuMail_Click(); });
    connect(menuAction(MenuItem::mnuPropaty), &QAction::triggered, this, [this] { logic_.mnuPropaty_Click(); });
    connect(menuAction(MenuItem::mnuRev), &QAction::triggered, this, [this] { logic_.mnuRev_Click(); });
    connect(menuAction(MenuItem::mnuOpen), &QAction::triggered, this, [this] { logic_.mnuOpen_Click(); });
    connect(menuAction(MenuItem::mnuEnd), &QAction::triggered, this, [this] { logic_.mnuEnd_Click(); });

    normalIcon_ = trayIconPicture();
    warningIcon_ = TrayWarningIcon(normalIcon_);
    mM_CHKER::TrayIcon.icon = normalIcon_;
    tray_.setIcon(mM_CHKER::TrayIcon.icon);
    tray_.setToolTip(QStringLiteral("Ferrowick"));
    // The tray opens this menu on a right press; every other click is deliberately ignored.
    tray_.setContextMenu(mnuMain_);

    connect(&timer1_, &QTimer::timeout, this, [this] { logic_.Timer1_Timer(); });
    connect(&timer2_, &QTimer::timeout, this, [this] { logic_.Timer2_Timer(); });
}

fMail_Task::~fMail_Task()
{
    tray_.setContextMenu(nullptr);
    delete mnuMain_;
}

void fMail_Task::SetMenuItemEnabled(MenuItem item, bool enabled) { menuAction(item)->setEnabled(enabled); }

void fMail_Task::RegisterTrayIcon()
{
    mM_CHKER::TrayIcon.window = reinterpret_cast<quintptr>(this);
    if (!tray_.isVisible()) tray_.show();
}

void fMail_Task::RemoveTrayIcon() { tray_.hide(); }

void fMail_Task::ShowTrayStatus(const QString& tip, bool warning)
{
    tray_.setToolTip(tip);
    if (warning == warningShown_) return;
    warningShown_ = warning;
    mM_CHKER::TrayIcon.icon = warning ? warningIcon_ : normalIcon_;
    tray_.setIcon(mM_CHKER::TrayIcon.icon);
}

void fMail_Task::ShowNotification(const QString& title, const QString& text, bool warning)
{
    // The tray's balloon needs a tray; without one (stock GNOME, say) the desktop shows it.
    if (QSystemTrayIcon::isSystemTrayAvailable() && tray_.isVisible())
        tray_.showMessage(title, text, warning ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information);
    else DesktopNotification::Send(title, text, warning);
}

void fMail_Task::StartTimers()
{
    timer1_.setInterval(tickMs_);
    timer2_.setInterval(tickMs_);
    timer1_.start();
    timer2_.start();
}

void fMail_Task::StopTimers()
{
    timer1_.stop();
    timer2_.stop();
}

QString fMail_Task::FindMailClient() { return MailtoHandler::Find(); }

bool fMail_Task::StartMailClient(const QString& client, QString* error) { return MailtoHandler::Launch(client, error); }

void fMail_Task::Quit() { QCoreApplication::exit(0); }
