#include "daemon/daemon_manager.h"
#include "daemon/output_reader.h"
#include "process_state.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <mutex>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

const QFile::Permissions executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
const QFile::Permissions notExecutable = QFile::ReadOwner | QFile::WriteOwner;

constexpr bool portableBuild = TORNEL_PORTABLE_BUILD;

// A manager that keeps its messages, from whichever thread wrote them.
struct Supervisor {
    mutable std::mutex mutex;
    QByteArray text;
    DaemonManager manager{[this](const QByteArray &message) {
                              std::lock_guard lock(mutex);
                              text += message;
                          },
                          [] { return std::chrono::steady_clock::now(); }};

    // Whole lines, each PID written as N so texts compare exactly. A message
    // without its line feed runs into the next one and fails the comparison.
    QStringList lines() const
    {
        static const QRegularExpression pid(u"^(\\[daemon\\] Started \\(PID: )\\d+\\)$"_s);
        std::lock_guard lock(mutex);
        QStringList lines = QString::fromUtf8(text).split(u'\n');
        lines.removeLast();
        for (QString &line : lines)
            line.replace(pid, u"\\1N)"_s);
        return lines;
    }
    bool contains(const QString &line) const { return lines().contains(line); }
};

const QString started = u"[daemon] Started (PID: N)"_s;

QString exited(int status)
{
    return u"[daemon] Process exited with status %1"_s.arg(status);
}

bool writeScript(const QString &path, const QByteArray &body, QFile::Permissions permissions = executable)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write("#!/bin/sh\n" + body) > 0 && file.setPermissions(permissions);
}

} // namespace

class TestDaemonManager : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QString beside = QCoreApplication::applicationDirPath() + u"/tornel-sync"_s;
        for (const QString &first : {beside, u"/usr/local/bin/tornel-sync"_s})
            if (QFileInfo::exists(first))
                QSKIP(qPrintable(first + u" would be launched instead of the test scripts"_s));
    }

    void init()
    {
        QVERIFY(m_home.emplace().isValid());
        qputenv("HOME", QFile::encodeName(m_home->path()));
        qputenv("PATH", "/usr/bin:/bin");
    }

    // Failures at the given seconds, and the delay each gets (-1: refused).
    void restartDelays_data()
    {
        using L = QList<double>;
        QTest::addColumn<L>("failures");
        QTest::addColumn<L>("delays");
        QTest::newRow("1, 2, 4 s, then refused") << L{0, 1, 3, 7, 8} << L{1, 2, 4, -1, -1};
        QTest::newRow("window measured from the previous restart") << L{0, 60, 120, 180.001} << L{1, 2, 4, 1};
        QTest::newRow("just over 60 s begins a new window") << L{0, 10, 70.001, 71} << L{1, 2, 1, 2};
        QTest::newRow("a refusal moves nothing") << L{0, 0, 0, 50, 60, 60.001} << L{1, 2, 4, -1, -1, 1};
    }

    void restartDelays()
    {
        QFETCH(QList<double>, failures);
        QFETCH(QList<double>, delays);
        RestartPolicy policy;
        QList<double> given;
        for (const double at : failures) {
            const auto now = std::chrono::duration_cast<RestartPolicy::TimePoint::duration>(RestartPolicy::Seconds(at));
            given << policy.restartDelay(RestartPolicy::TimePoint(now)).value_or(RestartPolicy::Seconds(-1)).count();
        }
        QCOMPARE(given, delays);
    }

    // Where the daemon is looked for, what failed starts report, and the
    // restarts of a daemon that keeps failing.
    void searchFailedStartsAndRestarts()
    {
        // Empty and relative entries of PATH name folders below the working folder.
        const QString home = m_home->path();
        QVERIFY(writeScript(home + u"/tornel-sync"_s, "exit 0\n"));
        QVERIFY(writeScript(home + u"/work/tornel-sync"_s, "exit 0\n"));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(home));
        Supervisor daemon;
        QSignalSpy notFound(&daemon.manager, &DaemonManager::daemonNotFound);
        QSignalSpy notLaunched(&daemon.manager, &DaemonManager::launchFailed);
        QSignalSpy gaveUp(&daemon.manager, &DaemonManager::gaveUp);
        qputenv("PATH", ".:work");
        QCOMPARE(daemon.manager.daemonPath(), QString());
        qputenv("PATH", QFile::encodeName(u".::work:%1/path:/usr/bin:/bin"_s.arg(home)));
        int readyAfterFailure = 0;
        daemon.manager.start([&] { ++readyAfterFailure; });
        QVERIFY(QDir::setCurrent(previous));

        const QString onPath = home + u"/path/tornel-sync"_s;
        QVERIFY(writeScript(onPath, "exit 0\n", notExecutable));
        QCOMPARE(daemon.manager.daemonPath(), QString());
        QVERIFY(QFile::setPermissions(onPath, executable));
        QCOMPARE(daemon.manager.daemonPath(), onPath);
        // The fixed places only need an entry to exist.
        const QString goBin = home + u"/go/bin/tornel-sync"_s;
        QVERIFY(writeScript(goBin, "exit 0\n", notExecutable));
        QCOMPARE(daemon.manager.daemonPath(), goBin);
        // Killed the first time, then exits with 3.
        QVERIFY(writeScript(homeDaemon(), "echo run\n[ -e ~/ran ] && exit 3\ntouch ~/ran\nkill -KILL $$\n", notExecutable));
        QCOMPARE(daemon.manager.daemonPath(), homeDaemon());
        daemon.manager.start([&] { ++readyAfterFailure; });

        QVERIFY(QFile::setPermissions(homeDaemon(), executable));
        QElapsedTimer sinceLaunch;
        sinceLaunch.start();
        qint64 readyAfterMs = -1;
        bool exitedBeforeReady = false;
        daemon.manager.start([&] {
            readyAfterMs = sinceLaunch.elapsed();
            exitedBeforeReady = daemon.contains(exited(SIGKILL));
        });
        const QString givingUp = u"[daemon] Too many restarts, giving up"_s;
        QTRY_VERIFY_WITH_TIMEOUT(daemon.contains(givingUp), 15000);
        daemon.manager.stop();

        const QString run = u"[daemon] run"_s;
        QCOMPARE(daemon.lines(),
                 (QStringList{u"[daemon] Failed to start: tornel-sync (looked beside the companion, in /usr/local/bin, "
                              "~/.tornel/bin, ~/go/bin and on PATH): No such file or directory (errno 2)"_s,
                              u"[daemon] Failed to start: %1: Permission denied (errno 13)"_s.arg(homeDaemon()),
                              started, run, exited(SIGKILL), u"[daemon] Restarting in 1.0s (attempt 1/3)"_s,
                              started, run, exited(3), u"[daemon] Restarting in 2.0s (attempt 2/3)"_s,
                              started, run, exited(3), u"[daemon] Restarting in 4.0s (attempt 3/3)"_s,
                              started, run, exited(3), givingUp}));
        // Each relaunch waited its delay.
        QVERIFY2(sinceLaunch.elapsed() >= 7000 - 30, qPrintable(QString::number(sinceLaunch.elapsed())));
        // Ready a second after the launch although the daemon had died; never after a failed start.
        QVERIFY(exitedBeforeReady);
        QVERIFY2(readyAfterMs >= DaemonManager::readyDelay.count() - 10, qPrintable(QString::number(readyAfterMs)));
        QCOMPARE(readyAfterFailure, 0);
        const QStringList searched{QCoreApplication::applicationDirPath(), u"/usr/local/bin"_s,
                                   home + u"/.tornel/bin"_s, home + u"/go/bin"_s};
        QCOMPARE(notFound, QList<QVariantList>{{searched}});
        QCOMPARE(notLaunched, (QList<QVariantList>{{homeDaemon(), u"Permission denied"_s}}));
        QTRY_COMPARE(gaveUp.count(), 1);
        QVERIFY(daemon.manager.needsRestart());
        QCOMPARE(daemon.manager.recentOutput(), QStringList(4, run.mid(9)));

        // Restarted by hand after giving up: supervised with a window of its own.
        daemon.manager.restart();
        QVERIFY(!daemon.manager.needsRestart());
        QTRY_VERIFY(daemon.lines().count(u"[daemon] Restarting in 1.0s (attempt 1/3)"_s) == 2);
        daemon.manager.stop();
    }

    // A daemon that ends by itself with 0 is told and left ended until
    // restarted; a ready callback waits through a failed launch for the
    // first launch that succeeds. Only the last lines of output are kept.
    void endedDaemonAndRestart()
    {
        Supervisor daemon;
        QSignalSpy launched(&daemon.manager, &DaemonManager::daemonLaunched);
        QSignalSpy ended(&daemon.manager, &DaemonManager::daemonEnded);
        QSignalSpy needsRestart(&daemon.manager, &DaemonManager::needsRestartChanged);
        int ready = 0;
        daemon.manager.start([&] { ++ready; });
        QCOMPARE(needsRestart.count(), 1);
        QVERIFY(writeScript(homeDaemon(), "for i in 1 2 3 4 5 6 7 8 9 10 11 12; do echo line $i; done\nexit 0\n"));
        daemon.manager.restart();
        QTRY_COMPARE(ready, 1);
        QTRY_COMPARE(ended.count(), 1);
        QCOMPARE(launched.count(), 1);
        QVERIFY(daemon.manager.needsRestart());
        QCOMPARE(needsRestart.count(), 3);
        QCOMPARE(daemon.manager.recentOutput().size(), DaemonManager::recentOutputLines);
        QCOMPARE(daemon.manager.recentOutput().last(), u"line 12"_s);
        QTest::qWait(1500); // longer than the first restart's delay
        QCOMPARE(daemon.lines().count(started), 1);

        daemon.manager.restart();
        QTRY_COMPARE(ended.count(), 2);
        QCOMPARE(launched.count(), 2);
        QCOMPARE(ready, 1);
    }

    // The daemon's output as reads deliver it (`chunks`): the whole lines
    // feeding makes, and the `rest` at the end of the stream.
    void outputLines_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("rest");
        const auto row = [](const char *name, const QByteArrayList &chunks, const QStringList &lines, QString rest = {}) {
            QTest::newRow(name) << chunks << lines << rest;
        };
        row("lines across reads, partial last line", {"one\ntw", "o\n\nthr", "ee"}, {u"one"_s, u"two"_s, u""_s}, u"three"_s);
        row("four-byte character byte by byte", {"\xF0", "\x9F", "\x98", "\x80", "\n"}, {u"\U0001F600"_s});
        row("invalid bytes replaced", {"bad\xFF\xFEx\n"}, {u"bad\uFFFD\uFFFDx"_s});
        row("character cut short by the line feed", {"a\xE2\x82\nb\n"}, {u"a\uFFFD\uFFFD"_s, u"b"_s});
        row("invalid partial line at the end", {"x\xC3"}, {}, u"x\uFFFD"_s);
        // Nothing the daemon prints drives a terminal; tabs and a CR LF line end are no controls.
        row("controls as escapes", {"\x1b]52;c;aGk=\x07ti\ttle\r\n", "fake\r[daemon] Stopped\n", "\xC2\x9B" "6n\x7f"},
            {u"\\x1b]52;c;aGk=\\x07ti\ttle"_s, u"fake\\x0d[daemon] Stopped"_s}, u"\\u009b6n\\x7f"_s);
        // A long line comes out in bounded pieces while it is read, not held until its end.
        const qsizetype bound = OutputLineSplitter::maxLineBytes;
        row("long line without a line feed", QByteArrayList(25, QByteArray(4096, 'x')), {QString(bound, u'x')},
            QString(25 * 4096 - bound, u'x'));
        // A character that starts one byte before the bound moves whole into the next piece.
        const QByteArray head(bound - 1, 'x');
        for (const QByteArray character : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
            QTest::addRow("%d-byte character at the bound", int(character.size()))
                << QByteArrayList{head + character + "\n"}
                << QStringList{QString::fromLatin1(head), QString::fromUtf8(character)} << QString();
        }
    }

    void outputLines()
    {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QStringList, lines);
        QFETCH(QString, rest);
        OutputLineSplitter splitter;
        QStringList fed;
        for (const QByteArray &chunk : chunks)
            fed += splitter.feed(chunk);
        QCOMPARE(fed, lines);
        const std::optional<QString> finished = splitter.finish();
        QCOMPARE(finished.value_or(QString()), rest);
        QCOMPARE(finished.has_value(), !rest.isEmpty());
        QVERIFY(!splitter.finish());
    }

    void echoesWholeLines()
    {
        // A line split across reads, then standard error; "ends" counts the descriptors on the
        // pipe of standard output: a leaked read end would make three and keep the pipe from ending.
        QVERIFY(writeScript(homeDaemon(),
                            "printf 'a'\nsleep 0.2\nprintf 'b\\none\\n'\npipe=$(readlink /proc/$$/fd/1)\nends=0\n"
                            "for fd in /proc/$$/fd/*; do [ \"$(readlink $fd)\" = \"$pipe\" ] && ends=$((ends+1))\ndone\n"
                            "echo \"$ends ends\" >&2\nseq 10000\nprintf 'no line feed'\n"));
        Supervisor daemon;
        daemon.manager.start();
        QTRY_VERIFY_WITH_TIMEOUT(daemon.contains(exited(0)), 10000);
        daemon.manager.stop(); // joins the supervisor: a restart after status 0 would show by now

        QStringList expected{started, u"[daemon] ab"_s, u"[daemon] one"_s, u"[daemon] 2 ends"_s};
        // A burst just before the exit, still being read when the daemon is gone.
        for (int i = 1; i <= 10000; ++i)
            expected << u"[daemon] %1"_s.arg(i);
        expected << u"[daemon] no line feed"_s << exited(0);
        QCOMPARE(daemon.lines(), expected);
    }

    void startWhileRunningThenStop()
    {
        // Reports TERM, keeps running, and is killed after the grace period.
        QVERIFY(writeScript(homeDaemon(), "trap 'echo term' TERM\necho up\nwhile :; do sleep 0.1; done\n"));
        Supervisor daemon;
        daemon.manager.stop();
        QVERIFY(daemon.lines().isEmpty());
        daemon.manager.start();
        QTRY_VERIFY_WITH_TIMEOUT(daemon.contains(u"[daemon] up"_s), 5000);
        bool ready = false;
        daemon.manager.start([&] { ready = true; });
        QVERIFY(ready);

        QElapsedTimer stopping;
        stopping.start();
        daemon.manager.stop();
        QVERIFY(stopping.elapsed() >= std::chrono::milliseconds(DaemonManager::stopGrace).count() - 100);
        daemon.manager.stop();
        // The shell may also tell of its sleep, which the same SIGTERM to the group ended.
        QStringList lines = daemon.lines();
        lines.removeAll(u"[daemon] Terminated"_s);
        QCOMPARE(lines, (QStringList{started, u"[daemon] up"_s, u"[daemon] term"_s,
                                               exited(SIGKILL), u"[daemon] Stopped"_s}));
    }

    // Linux's own launch gives the daemon SIGTERM when the companion dies;
    // posix_spawn cannot (macOS, or Linux with pidfd_open refused), so there
    // a companion killed outright leaves its daemon running.
    void companionDirectoryFirstAndOrphans_data()
    {
        QTest::addColumn<QByteArray>("preload");
        QTest::addColumn<bool>("orphanEnds");
        if (portableBuild) {
            QTest::newRow("posix_spawn") << QByteArray() << false;
            return;
        }
        QTest::newRow("own launch") << QByteArray() << true;
        QTest::newRow("pidfd_open refused") << QByteArray(TORNEL_REFUSE_PIDFD_OPEN) << false;
    }

    void companionDirectoryFirstAndOrphans()
    {
        QFETCH(QByteArray, preload);
        QFETCH(bool, orphanEnds);
        // A copy of this program in a folder of its own, with a daemon beside it.
        const QString companionDir = m_home->path() + u"/companion"_s;
        QVERIFY(writeScript(companionDir + u"/tornel-sync"_s, "echo \"beside $$\"\nexec sleep 60\n"));
        QVERIFY(writeScript(homeDaemon(), "echo home\nexec sleep 60\n"));
        const QString copy = companionDir + u"/companion"_s;
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));

        QProcess companion;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!preload.isEmpty()) {
            environment.insert(u"LD_PRELOAD"_s, QString::fromLocal8Bit(preload));
            // The sanitizer's runtime would insist on coming first.
            environment.insert(u"ASAN_OPTIONS"_s, u"verify_asan_link_order=0"_s);
        }
        companion.setProcessEnvironment(environment);
        companion.start(copy, {u"--own-daemon"_s});
        QVERIFY(companion.waitForStarted());
        QString output;
        // Each line comes in one write, so a line found is whole.
        const auto said = [&](const QString &text) { return (output += companion.readAllStandardOutput()).contains(text); };
        QTRY_VERIFY_WITH_TIMEOUT(said(u"[daemon] beside "_s), 10000);
        const qint64 daemonPid = output.section(u"[daemon] beside "_s, 1).section(u'\n', 0, 0).toLongLong();
        QVERIFY(processRuns(daemonPid));

        companion.kill();
        QVERIFY(companion.waitForFinished());
        if (orphanEnds) {
            QTRY_VERIFY_WITH_TIMEOUT(!processRuns(daemonPid), 5000);
        } else {
            QTest::qWait(500);
            QVERIFY(processRuns(daemonPid));
            ::kill(pid_t(daemonPid), SIGKILL);
        }
    }

private:
    QString homeDaemon() const { return m_home->path() + u"/.tornel/bin/tornel-sync"_s; }

    std::optional<QTemporaryDir> m_home;
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The role this program plays for the test above, as a companion of its own.
    if (argc == 2 && qstrcmp(argv[1], "--own-daemon") == 0) {
        DaemonManager manager;
        manager.start();
        return app.exec();
    }
    TestDaemonManager test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_daemon_manager.moc"
