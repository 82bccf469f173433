#include "daemon/standard_output.h"

#include "daemon/queued_writer.h"

#include <cerrno>

#include <poll.h>
#include <unistd.h>

namespace {

// A write this small goes through at once when poll says the output is
// writable: a pipe then has a free page, a terminal free room.
constexpr qsizetype directWriteLimit = 4096;

void writeAll(const QByteArray &message)
{
    const char *data = message.constData();
    size_t left = size_t(message.size());
    while (left > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return; // closed or broken: nobody reads it
        }
        data += written;
        left -= size_t(written);
    }
}

// The usual case: the reader keeps up, so no thread is needed.
bool writeAtOnce(const QByteArray &message)
{
    pollfd output{STDOUT_FILENO, POLLOUT, 0};
    if (message.size() > directWriteLimit || ::poll(&output, 1, 0) != 1)
        return false;
    writeAll(message);
    return true;
}

QueuedWriter &writer()
{
    // Made on first use and never destroyed: threads may still write as the process ends.
    static const auto *const instance = new std::shared_ptr<QueuedWriter>(QueuedWriter::create(
        writeAll,
        [](qint64 dropped) {
            return QByteArrayLiteral("[daemon] ") + QByteArray::number(dropped)
                + QByteArrayLiteral(" lines dropped: standard output was not read\n");
        },
        StandardOutput::capacity, writeAtOnce));
    return **instance;
}

} // namespace

void StandardOutput::write(const QByteArray &message)
{
    writer().queue(message);
}

void StandardOutput::flush(std::chrono::milliseconds limit)
{
    writer().flush(limit);
}
