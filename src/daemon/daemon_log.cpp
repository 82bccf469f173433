#include "daemon/daemon_log.h"

#include "daemon/queued_writer.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

Q_LOGGING_CATEGORY(lcLog, "tornel.log")

// How long the log's end waits for lines still queued.
constexpr std::chrono::seconds lastLinesGrace{1};

// The local time with its offset, to the millisecond: "2026-12-06T21:50:01.123+01:00".
QByteArray timeStamp()
{
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs).toUtf8();
}

// The file's side of the log; used by the writing thread only, one write at a time.
class LogFile {
public:
    LogFile(QString path, DaemonLog::ReportProblem reportProblem, qsizetype bound)
        : m_path(QFile::encodeName(path)), m_folder(QFileInfo(path).absolutePath()),
          m_reportProblem(std::move(reportProblem)), m_bound(bound)
    {}

    void write(const QByteArray &line)
    {
        int file = open();
        struct stat status {};
        if (file >= 0 && ::fstat(file, &status) == 0 && status.st_size > 0 && status.st_size + line.size() > m_bound) {
            ::close(file);
            file = ::rename(m_path.constData(), (m_path + ".1").constData()) == 0 ? open() : -1;
        }
        if (file < 0 || !writeAll(file, line))
            reportOnce(QString::fromLocal8Bit(std::strerror(errno)));
        if (file >= 0)
            ::close(file);
    }

private:
    int open() const
    {
        // The folder is the user's alone: the daemon's words may name their files.
        QDir().mkpath(QFileInfo(m_folder).absolutePath());
        if (::mkdir(QFile::encodeName(m_folder).constData(), 0700) != 0 && errno != EEXIST)
            return -1;
        return ::open(m_path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    }

    static bool writeAll(int file, const QByteArray &line)
    {
        const char *data = line.constData();
        size_t left = size_t(line.size());
        while (left > 0) {
            const ssize_t written = ::write(file, data, left);
            if (written < 0 && errno == EINTR)
                continue;
            if (written < 0)
                return false;
            data += written;
            left -= size_t(written);
        }
        return true;
    }

    void reportOnce(const QString &reason)
    {
        if (m_reported)
            return;
        m_reported = true;
        const QString problem = QStringLiteral("cannot keep the daemon's log in %1 (%2); its lines go to "
                                               "standard output only")
                                    .arg(QFile::decodeName(m_path), reason);
        if (m_reportProblem)
            m_reportProblem(problem);
        else
            qCWarning(lcLog, "%s", qPrintable(problem));
    }

    const QByteArray m_path;
    const QString m_folder;
    const DaemonLog::ReportProblem m_reportProblem;
    const qsizetype m_bound;
    bool m_reported = false;
};

} // namespace

DaemonLog::DaemonLog(QString path, ReportProblem reportProblem, qsizetype bound)
{
    auto file = std::make_shared<LogFile>(std::move(path), std::move(reportProblem), bound);
    m_writer = QueuedWriter::create([file](const QByteArray &line) { file->write(line); },
                                    [](qint64 dropped) {
                                        return timeStamp() + " [daemon] " + QByteArray::number(dropped)
                                            + " lines dropped: the log could not be written in time\n";
                                    },
                                    // A log's worth waits at most, whatever its bound on disk.
                                    defaultBound);
}

DaemonLog::~DaemonLog()
{
    flush(lastLinesGrace);
}

QString DaemonLog::defaultPath()
{
    return tornelStateDirectory() + QStringLiteral("/daemon.log");
}

void DaemonLog::append(const QByteArray &message)
{
    m_writer->queue(timeStamp() + ' ' + message);
}

void DaemonLog::flush(std::chrono::milliseconds limit)
{
    m_writer->flush(limit);
}
