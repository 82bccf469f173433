#include "sim_log.h"

#include <cerrno>

#include <unistd.h>

namespace {

void writeLine(int fd, const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        left -= n;
    }
}

} // namespace

void simLog(const QString &line)
{
    writeLine(STDOUT_FILENO, line);
}

void simError(const QString &line)
{
    writeLine(STDERR_FILENO, line);
}
