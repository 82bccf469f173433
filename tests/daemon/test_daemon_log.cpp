// The daemon's log on disk: each line stamped with its time, the file bounded
// with one previous file kept, and a folder it cannot write said once.
#include "daemon/daemon_log.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <mutex>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

constexpr std::chrono::seconds flushLimit{10};

QByteArrayList linesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArrayList lines = file.readAll().split('\n');
    lines.removeLast(); // after the last line feed
    return lines;
}

int modeOf(const QString &path)
{
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 0777) : -1;
}

} // namespace

class DaemonLogTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        QVERIFY(m_home->isValid());
        m_path = m_home->filePath(u"state/tornel/daemon.log"_s);
    }

    void linesArriveStampedWithTheirTimeInOrder()
    {
        const QDateTime before = QDateTime::currentDateTime().addMSecs(-1);
        {
            DaemonLog log(m_path);
            log.append("[daemon] Started (PID: 7)\n");
            log.append("[daemon] listening\n");
        } // the end of the log waits for its lines
        const QDateTime after = QDateTime::currentDateTime().addMSecs(1);

        static const QRegularExpression stamped(
            u"^(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(?:Z|[+-]\\d\\d:\\d\\d)) (.*)$"_s);
        QStringList texts;
        for (const QByteArray &line : linesOf(m_path)) {
            const QRegularExpressionMatch match = stamped.match(QString::fromUtf8(line));
            QVERIFY2(match.hasMatch(), line.constData());
            const QDateTime time = QDateTime::fromString(match.captured(1), Qt::ISODateWithMs);
            QVERIFY2(time >= before && time <= after, line.constData());
            texts << match.captured(2);
        }
        QCOMPARE(texts, (QStringList{u"[daemon] Started (PID: 7)"_s, u"[daemon] listening"_s}));
        // The daemon's words may name the user's files.
        QCOMPARE(modeOf(m_path), 0600);
        QCOMPARE(modeOf(QFileInfo(m_path).absolutePath()), 0700);
    }

    void rotationKeepsOnePreviousFile_data()
    {
        QTest::addColumn<int>("lineBytes");
        QTest::addColumn<int>("lines");
        // A stamp is 30 bytes or so; the bound below is 200.
        QTest::newRow("several files' worth") << 20 << 40;
        QTest::newRow("lines longer than the bound") << 300 << 3;
    }

    void rotationKeepsOnePreviousFile()
    {
        QFETCH(int, lineBytes);
        QFETCH(int, lines);
        constexpr qsizetype bound = 200;
        QByteArrayList written;
        {
            DaemonLog log(m_path, {}, bound);
            for (int i = 0; i < lines; ++i) {
                written << QByteArray::number(i).leftJustified(lineBytes, '.');
                log.append(written.last() + '\n');
            }
        }
        const QByteArrayList previous = linesOf(m_path + u".1"_s);
        const QByteArrayList current = linesOf(m_path);
        QVERIFY(!previous.isEmpty() && !current.isEmpty());
        QVERIFY(!QFile::exists(m_path + u".2"_s));
        // A file outgrows the bound only by a line that could not fit in any.
        for (const QString &path : {m_path, m_path + u".1"_s}) {
            const qint64 size = QFileInfo(path).size();
            QVERIFY2(size <= bound || linesOf(path).size() == 1, qPrintable(path));
        }
        // The newest lines, whole and in order, with nothing missing between them.
        const QByteArrayList kept = previous + current;
        const QByteArrayList expected = written.mid(written.size() - kept.size());
        for (qsizetype i = 0; i < kept.size(); ++i)
            QVERIFY2(kept[i].endsWith(' ' + expected[i]), kept[i].constData());
    }

    void anUnwritableFolderIsSaidOnce()
    {
        // A file where the folder should be: the one obstacle root cannot write through.
        QFile obstacle(QFileInfo(m_path).absolutePath());
        QVERIFY(QDir().mkpath(QFileInfo(obstacle.fileName()).absolutePath()) && obstacle.open(QIODevice::WriteOnly));
        obstacle.close();

        std::mutex mutex;
        QStringList problems;
        {
            DaemonLog log(m_path, [&](const QString &problem) {
                std::lock_guard lock(mutex);
                problems << problem;
            });
            for (int i = 0; i < 3; ++i) {
                log.append("[daemon] line\n");
                log.flush(flushLimit);
            }
        }
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems.first().contains(m_path), qPrintable(problems.first()));
    }

private:
    std::unique_ptr<QTemporaryDir> m_home;
    QString m_path;
};

QTEST_GUILESS_MAIN(DaemonLogTest)
#include "test_daemon_log.moc"
