// The shell's rules with a fake status item and the real model and
// supervisor: the icon table, redraws that are queued and ordered, and the
// launch and shutdown order against a real daemon process.
#include "app/app_delegate.h"
#include "fake_status_item.h"
#include "scripted_daemon.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(StatusIcon)

namespace {

constexpr int waitMs = 10000;

QString describe(const StatusIcon &icon)
{
    return QStringLiteral("%1 / %2 / %3")
        .arg(icon.symbol, icon.description, icon.color ? QString::number(int(*icon.color)) : QStringLiteral("none"));
}

bool writeExecutable(const QString &path, const QByteArray &script)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(script) != script.size())
        return false;
    file.close();
    return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

class AppDelegateTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void launchShowsTheLaunchIcon();
    void eachStatusShowsItsRow_data();
    void eachStatusShowsItsRow();
    void quickChangesRedrawInOrder();
    void changeFromWorkerThreadRedrawsOnMainThreadAfterCallbackReturned();
    void changeOnMainThreadRedrawsInALaterTurn();
    void shutdownStopsPollingBeforeTheDaemon();
    void withoutReadyNoRequestAndNoIconChange();

private:
    void launch();
    QString homePath(const QString &relative) const { return m_home->filePath(relative); }

    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<AppDelegate> m_delegate;
    FakeStatusItem *m_item = nullptr;
};

void AppDelegateTest::initTestCase()
{
    if (QFileInfo::exists(QStringLiteral("/usr/local/bin/tornel-sync")))
        QSKIP("a tornel-sync in /usr/local/bin would be launched instead of the test's daemon");
    // The supervisor also searches PATH; keep it to system tools.
    qputenv("PATH", "/usr/bin:/bin");
}

void AppDelegateTest::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    qputenv("HOME", m_home->path().toLocal8Bit());
    QDir::setCurrent(m_home->path());
}

void AppDelegateTest::cleanup()
{
    m_delegate.reset();
    m_item = nullptr;
    m_home.reset();
}

void AppDelegateTest::launch()
{
    m_delegate = std::make_unique<AppDelegate>([this] {
        auto item = std::make_unique<FakeStatusItem>();
        m_item = item.get();
        return item;
    });
    m_delegate->applicationDidFinishLaunching();
    QVERIFY(m_item);
}

void AppDelegateTest::launchShowsTheLaunchIcon()
{
    launch();
    QCOMPARE(m_item->icons.size(), 1);
    const StatusIcon &icon = m_item->icons.constFirst();
    QCOMPARE(icon.symbol, QStringLiteral("person.crop.circle"));
    QCOMPARE(icon.description, QStringLiteral("Tornel"));
    QVERIFY(!icon.color);
}

void AppDelegateTest::eachStatusShowsItsRow_data()
{
    QTest::addColumn<SyncStatus>("status");
    QTest::addColumn<StatusIcon>("expected");
    QTest::newRow("syncing") << SyncStatus::syncing
                             << StatusIcon{"arrow.triangle.2.circlepath", "Tornel — Syncing", NamedColor::blue};
    QTest::newRow("synced") << SyncStatus::synced
                            << StatusIcon{"checkmark.circle.fill", "Tornel — Up to date", NamedColor::green};
    QTest::newRow("paused") << SyncStatus::paused
                            << StatusIcon{"pause.circle.fill", "Tornel — Paused", NamedColor::yellow};
    QTest::newRow("error") << SyncStatus::error
                           << StatusIcon{"exclamationmark.triangle.fill", "Tornel — Error", NamedColor::red};
    QTest::newRow("loggedOut") << SyncStatus::loggedOut
                               << StatusIcon{"person.crop.circle", "Tornel — Not logged in", NamedColor::secondaryLabel};
}

void AppDelegateTest::eachStatusShowsItsRow()
{
    QFETCH(SyncStatus, status);
    QFETCH(StatusIcon, expected);
    launch();
    m_delegate->syncState().onStateChange(status);
    QTRY_COMPARE_WITH_TIMEOUT(m_item->icons.size(), 2, waitMs);
    QCOMPARE(describe(m_item->icons.last()), describe(expected));
}

void AppDelegateTest::quickChangesRedrawInOrder()
{
    launch();
    m_delegate->syncState().onStateChange(SyncStatus::paused);
    m_delegate->syncState().onStateChange(SyncStatus::synced);
    QTRY_COMPARE_WITH_TIMEOUT(m_item->icons.size(), 3, waitMs);
    QCOMPARE(m_item->icons.at(1).description, QStringLiteral("Tornel — Paused"));
    QCOMPARE(m_item->icons.at(2).description, QStringLiteral("Tornel — Up to date"));
}

void AppDelegateTest::changeFromWorkerThreadRedrawsOnMainThreadAfterCallbackReturned()
{
    launch();
    std::atomic<bool> callbackReturned{false};
    bool returnedBeforeRedraw = false;
    m_item->onSetIcon = [&] { returnedBeforeRedraw = callbackReturned.load(); };

    std::thread worker([&] {
        m_delegate->syncState().onStateChange(SyncStatus::error);
        callbackReturned = true;
    });
    QTRY_COMPARE_WITH_TIMEOUT(m_item->icons.size(), 2, waitMs);
    worker.join();
    QVERIFY(m_item->threads.last() == QThread::currentThread());
    QVERIFY(returnedBeforeRedraw);
    QCOMPARE(m_item->icons.last().description, QStringLiteral("Tornel — Error"));
}

void AppDelegateTest::changeOnMainThreadRedrawsInALaterTurn()
{
    launch();
    m_delegate->syncState().onStateChange(SyncStatus::syncing);
    QCOMPARE(m_item->icons.size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(m_item->icons.size(), 2, waitMs);
    QCOMPARE(m_item->icons.last().description, QStringLiteral("Tornel — Syncing"));
}

// A real daemon process that, on SIGTERM, reports through a FIFO and waits
// for an answer before it exits. Meanwhile the shell is inside the
// supervisor's stop, so the poll timer's state then is its state when the
// daemon was asked to stop.
void AppDelegateTest::shutdownStopsPollingBeforeTheDaemon()
{
    const QByteArray termFifo = homePath(QStringLiteral("term.fifo")).toLocal8Bit();
    const QByteArray ackFifo = homePath(QStringLiteral("ack.fifo")).toLocal8Bit();
    QCOMPARE(::mkfifo(termFifo.constData(), 0600), 0);
    QCOMPARE(::mkfifo(ackFifo.constData(), 0600), 0);
    QVERIFY(writeExecutable(homePath(QStringLiteral(".tornel/bin/tornel-sync")),
                            "#!/bin/sh\n"
                            "trap 'kill $sleeper; echo term > \"" + termFifo + "\"; read ack < \"" + ackFifo +
                                "\"; exit 0' TERM\n"
                                "sleep 600 &\n"
                                "sleeper=$!\n"
                                "wait $sleeper\n"));
    ScriptedDaemon daemon(homePath(QStringLiteral(".tornel/daemon.sock")), [](const QJsonObject &) {
        return ScriptedDaemon::Reply::result(ScriptedDaemon::statusRecord(QStringLiteral("synced")));
    });
    QVERIFY(daemon.isListening());

    launch();
    QTRY_VERIFY_WITH_TIMEOUT(daemon.requestCount() >= 1, waitMs);
    QPointer<QTimer> pollTimer;
    for (QTimer *timer : m_delegate->syncState().findChildren<QTimer *>()) {
        if (timer->isActive() && timer->interval() == SyncState::pollIntervalMs)
            pollTimer = timer;
    }
    QVERIFY2(pollTimer, "polling did not start");

    const int termFd = ::open(termFifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(termFd >= 0);
    std::atomic<int> pollingWhenDaemonStopped{-1};
    std::thread observer([&] {
        pollfd readable{termFd, POLLIN, 0};
        if (::poll(&readable, 1, waitMs) != 1)
            return;
        pollingWhenDaemonStopped = (pollTimer && pollTimer->isActive()) ? 1 : 0;
        // The daemon opens the answer FIFO right after reporting.
        for (int attempt = 0; attempt < 1000; ++attempt) {
            const int ackFd = ::open(ackFifo.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (ackFd >= 0) {
                (void)!::write(ackFd, "ok\n", 3);
                ::close(ackFd);
                return;
            }
            ::usleep(10000);
        }
    });
    m_delegate->applicationWillTerminate();
    observer.join();
    ::close(termFd);

    QCOMPARE(pollingWhenDaemonStopped.load(), 0);
}

void AppDelegateTest::withoutReadyNoRequestAndNoIconChange()
{
    // No daemon executable: the launch fails, so the ready callback never comes.
    QVERIFY(QDir(m_home->path()).mkpath(QStringLiteral(".tornel")));
    ScriptedDaemon daemon(homePath(QStringLiteral(".tornel/daemon.sock")));
    QVERIFY(daemon.isListening());
    launch();
    // Waiting for something not to happen: longer than the ready delay plus a poll interval.
    QTest::qWait(1000 + SyncState::pollIntervalMs + 1000);
    QCOMPARE(daemon.requestCount(), 0);
    QCOMPARE(m_item->icons.size(), 1);
}

QTEST_MAIN(AppDelegateTest)
#include "test_app_delegate.moc"
