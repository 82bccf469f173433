// The shell's rules with a fake status item and the real model and
// supervisor: the icon table, redraws that are queued and ordered, the
// launch and shutdown order against a real daemon process, and what the
// daemon's log keeps of a session.
#include "app/app_delegate.h"
#include "daemon/daemon_log.h"
#include "scripted_daemon.h"
#include "views/login_view.h"
#include "views/menu_bar_view.h"

#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>
#include <thread>

Q_DECLARE_METATYPE(StatusIcon)

namespace {

constexpr int waitMs = 10000;
// The row without a status: what the item shows from launch until the first one.
constexpr int noStatus = -1;

// Records what the shell asks the status item to show.
class FakeStatusItem : public StatusItem {
public:
    void setIcon(const StatusIcon &icon) override { icons.append(icon); }
    void setContextMenu(QMenu *) override {}
    QRect geometry() const override { return {}; }
    void showMessage(const QString &, const QString &, bool) override {}

    QList<StatusIcon> icons;
};

} // namespace

class AppDelegateTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void iconRows_data();
    void iconRows();
    void redrawsComeInALaterTurnInOrderFromAnyThread();
    void shutdownStopsPollingBeforeTheDaemon();
    void withoutReadyNoRequestAndNoIconChange_data();
    void withoutReadyNoRequestAndNoIconChange();
    void theLogKeepsTheSessionButNoPassword();
    void panelHangsFromTheIconAgainWhenATrayAppearsLate();

private:
    void launch();
    QString homePath(const QString &relative) const { return m_home->filePath(relative); }
    bool writeDaemon(const QByteArray &script, QFile::Permissions permissions = QFile::ReadOwner | QFile::ExeOwner);

    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<AppDelegate> m_delegate;
    FakeStatusItem *m_item = nullptr;
};

void AppDelegateTest::init()
{
    if (QFile::exists(QStringLiteral("/usr/local/bin/tornel-sync")))
        QSKIP("a tornel-sync in /usr/local/bin would be launched instead of the test's daemon");
    m_delegate.reset();
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid() && QDir(m_home->path()).mkpath(QStringLiteral(".tornel/bin")));
    qputenv("HOME", m_home->path().toLocal8Bit());
    qunsetenv("XDG_STATE_HOME"); // the daemon's log, under the test's home
    // The supervisor also searches PATH; keep it to system tools.
    qputenv("PATH", "/usr/bin:/bin");
    QDir::setCurrent(m_home->path());
}

void AppDelegateTest::launch()
{
    m_delegate = std::make_unique<AppDelegate>([this] {
        auto item = std::make_unique<FakeStatusItem>();
        m_item = item.get();
        return item;
    });
    m_delegate->applicationDidFinishLaunching();
}

bool AppDelegateTest::writeDaemon(const QByteArray &script, QFile::Permissions permissions)
{
    QFile file(homePath(QStringLiteral(".tornel/bin/tornel-sync")));
    return file.open(QIODevice::WriteOnly) && file.write(script) == script.size() && file.setPermissions(permissions);
}

void AppDelegateTest::iconRows_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<StatusIcon>("expected");
    QTest::newRow("launch") << noStatus << StatusIcon{"person.crop.circle", "Tornel", std::nullopt};
    QTest::newRow("syncing") << int(SyncStatus::syncing)
                             << StatusIcon{"arrow.triangle.2.circlepath", "Tornel — Syncing", NamedColor::blue};
    QTest::newRow("synced") << int(SyncStatus::synced)
                            << StatusIcon{"checkmark.circle.fill", "Tornel — Up to date", NamedColor::green};
    QTest::newRow("paused") << int(SyncStatus::paused)
                            << StatusIcon{"pause.circle.fill", "Tornel — Paused", NamedColor::yellow};
    QTest::newRow("error") << int(SyncStatus::error)
                           << StatusIcon{"exclamationmark.triangle.fill", "Tornel — Error", NamedColor::red};
    QTest::newRow("loggedOut") << int(SyncStatus::loggedOut)
                               << StatusIcon{"person.crop.circle", "Tornel — Not logged in", NamedColor::secondaryLabel};
}

void AppDelegateTest::iconRows()
{
    QFETCH(int, status);
    QFETCH(StatusIcon, expected);
    launch();
    if (status != noStatus)
        emit m_delegate->syncState().stateChanged(SyncStatus(status));
    QTRY_COMPARE_WITH_TIMEOUT(m_item->icons.size(), status == noStatus ? 1 : 2, waitMs);
    QVERIFY(m_item->icons.last() == expected);
}

// Changes reported on the main thread and on a worker: none is drawn while
// its callback runs (a worker's would be drawn on the worker), all in order.
void AppDelegateTest::redrawsComeInALaterTurnInOrderFromAnyThread()
{
    launch();
    emit m_delegate->syncState().stateChanged(SyncStatus::paused);
    std::thread([this] { emit m_delegate->syncState().stateChanged(SyncStatus::error); }).join();
    emit m_delegate->syncState().stateChanged(SyncStatus::synced);
    QCOMPARE(m_item->icons.size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(m_item->icons.size(), 4, waitMs);
    QCOMPARE(m_item->icons.at(1).description, QStringLiteral("Tornel — Paused"));
    QCOMPARE(m_item->icons.at(2).description, QStringLiteral("Tornel — Error"));
    QCOMPARE(m_item->icons.at(3).description, QStringLiteral("Tornel — Up to date"));
}

// A real daemon that, on SIGTERM, leaves a mark and waits for an answer
// before it exits. Meanwhile the shell is inside the supervisor's stop, so
// the poll timer's state then is its state when the daemon was asked to stop.
void AppDelegateTest::shutdownStopsPollingBeforeTheDaemon()
{
    QVERIFY(writeDaemon("#!/bin/sh\n"
                        "trap 'kill $s; touch term; while [ ! -e ack ]; do sleep 0.01; done; exit 0' TERM\n"
                        "sleep 600 & s=$!\n"
                        "wait $s\n"));
    ScriptedDaemon daemon(homePath(QStringLiteral(".tornel/daemon.sock")));
    launch();
    QTRY_VERIFY_WITH_TIMEOUT(daemon.requestCount() >= 1, waitMs);
    const QPointer<QTimer> pollTimer = m_delegate->syncState().findChild<QTimer *>();
    QVERIFY2(pollTimer && pollTimer->isActive(), "polling did not start");

    std::atomic<int> pollingWhenDaemonStopped{-1};
    std::thread observer([&] {
        if (QTest::qWaitFor([this] { return QFile::exists(homePath(QStringLiteral("term"))); }, waitMs))
            pollingWhenDaemonStopped = (pollTimer && pollTimer->isActive()) ? 1 : 0;
        (void)QFile(homePath(QStringLiteral("ack"))).open(QIODevice::WriteOnly);
    });
    m_delegate->applicationWillTerminate();
    observer.join();
    QCOMPARE(pollingWhenDaemonStopped.load(), 0);
}

void AppDelegateTest::withoutReadyNoRequestAndNoIconChange_data()
{
    QTest::addColumn<bool>("installed");
    QTest::newRow("no daemon") << false;
    QTest::newRow("daemon not executable") << true;
}

// The launch fails, so the ready callback never comes.
void AppDelegateTest::withoutReadyNoRequestAndNoIconChange()
{
    QFETCH(bool, installed);
    QVERIFY(!installed || writeDaemon("#!/bin/sh\nexec sleep 600\n", QFile::ReadOwner));
    ScriptedDaemon daemon(homePath(QStringLiteral(".tornel/daemon.sock")));
    QVERIFY(daemon.isListening());
    launch();
    // Waiting for something not to happen: longer than the ready delay plus a poll interval.
    QTest::qWait(1000 + SyncState::pollIntervalMs + 1000);
    QCOMPARE(daemon.requestCount(), 0);
    QCOMPARE(m_item->icons.size(), 1);
}

// The daemon's words and Tornel's lines about it reach the log; a password
// typed into the login form, which the daemon turns down, does not.
void AppDelegateTest::theLogKeepsTheSessionButNoPassword()
{
    const QString password = QStringLiteral("Xq7-not-for-logs");
    QVERIFY(writeDaemon("#!/bin/sh\necho 'stand-in starting'\nexec '" TORNEL_SIM_PATH "'\n"));
    launch();
    QTRY_COMPARE_WITH_TIMEOUT(m_delegate->syncState().status(), SyncStatus::loggedOut, waitMs);
    MenuBarView &panel = m_delegate->popover()->panel();
    panel.setShowingLogin(true);
    LoginView *form = panel.loginView();
    form->findChild<QLineEdit *>(QStringLiteral("emailField"))->setText(QStringLiteral("someone@example.org"));
    form->findChild<QLineEdit *>(QStringLiteral("passwordField"))->setText(password);
    form->findChild<QAbstractButton *>(QStringLiteral("loginButton"))->click();
    const QLabel *refusal = form->findChild<QLabel *>(QStringLiteral("loginError"));
    // Turned down ("Invalid email or password"), or not answered in time on a busy machine.
    QTRY_VERIFY_WITH_TIMEOUT(!refusal->text().isEmpty(), waitMs);
    m_delegate->applicationWillTerminate();
    m_delegate.reset(); // the log's end waits for its last lines

    QFile log(DaemonLog::defaultPath());
    QVERIFY2(log.open(QIODevice::ReadOnly), qPrintable(log.fileName()));
    const QString text = QString::fromUtf8(log.readAll());
    for (const QString &expected : {QStringLiteral("[daemon] Started (PID: "), QStringLiteral("[daemon] stand-in starting"),
                                    QStringLiteral("[daemon] Stopped")})
        QVERIFY2(text.contains(expected), qPrintable(text));
    QVERIFY2(!text.contains(password), qPrintable(text));
}

// Without a tray the panel opens as a window; once one appears, as a popup again.
void AppDelegateTest::panelHangsFromTheIconAgainWhenATrayAppearsLate()
{
    launch();
    PopoverHost &panel = *m_delegate->popover();
    emit m_item->trayMissing();
    panel.open();
    QCOMPARE(panel.windowType(), Qt::Window);
    panel.hide();
    emit m_item->trayAppeared();
    panel.open();
    QCOMPARE(panel.windowType(), Qt::Popup);
}

QTEST_MAIN(AppDelegateTest)
#include "test_app_delegate.moc"

