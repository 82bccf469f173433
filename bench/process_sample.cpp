#include "process_sample.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace {

QByteArray readProc(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The value of a "Key:   1234 kB" line.
qint64 field(const QByteArray &text, const char *key)
{
    const QRegularExpression line(QStringLiteral("^%1:\\s+(\\d+)").arg(QLatin1StringView(key)),
                                  QRegularExpression::MultilineOption);
    return line.match(QString::fromLatin1(text)).captured(1).toLongLong();
}

} // namespace

std::optional<ProcessSample> ProcessSample::of(pid_t pid)
{
    const QString base = QStringLiteral("/proc/%1").arg(pid);
    const QByteArray status = readProc(base + QStringLiteral("/status"));
    const QByteArray rollup = readProc(base + QStringLiteral("/smaps_rollup"));
    if (status.isEmpty() || rollup.isEmpty())
        return std::nullopt;

    ProcessSample sample;
    sample.rssKb = field(status, "VmRSS");
    sample.privateDirtyKb = field(rollup, "Private_Dirty");
    sample.anonymousKb = field(rollup, "Anonymous");
    sample.fds = int(QDir(base + QStringLiteral("/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size());
    const QStringList tasks = QDir(base + QStringLiteral("/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    sample.threads = int(tasks.size());
    for (const QString &task : tasks) {
        const QString taskBase = base + QStringLiteral("/task/") + task;
        sample.cpuNs += readProc(taskBase + QStringLiteral("/schedstat")).split(' ').value(0).toLongLong();
        const QByteArray taskStatus = readProc(taskBase + QStringLiteral("/status"));
        const qint64 voluntary = field(taskStatus, "voluntary_ctxt_switches");
        sample.contextSwitches += voluntary + field(taskStatus, "nonvoluntary_ctxt_switches");
        if (task.toInt() == pid)
            sample.mainThreadWakeups = voluntary;
    }
    return sample;
}
