#include "daemon/standard_output.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <cerrno>

#include <poll.h>
#include <unistd.h>

namespace {

// A write this small goes through at once when poll says the output is
// writable: a pipe then has a free page, a terminal free room.
constexpr qsizetype directWriteLimit = 4096;

class Writer {
public:
    void queue(const QByteArray &message)
    {
        std::lock_guard lock(m_mutex);
        // The usual case: nothing waits and the reader keeps up, so no thread is needed.
        if (m_queued.empty() && !m_writing && message.size() <= directWriteLimit && writableNow()) {
            writeAll(message);
            return;
        }
        m_queued.push_back(message);
        m_queuedBytes += message.size();
        while (m_queuedBytes > StandardOutput::capacity && !m_queued.empty()) {
            m_queuedBytes -= m_queued.front().size();
            m_queued.pop_front();
            ++m_dropped;
        }
        if (!m_threadRunning) {
            m_threadRunning = true;
            // Never joined: a thread blocked on a stalled reader must not hold
            // up the end of the process, which ends it.
            std::thread([this] { drain(); }).detach();
        }
    }

    void flush(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(m_mutex);
        m_drained.wait_for(lock, limit, [this] { return m_queued.empty() && !m_writing; });
    }

private:
    static bool writableNow()
    {
        pollfd output{STDOUT_FILENO, POLLOUT, 0};
        return ::poll(&output, 1, 0) == 1;
    }

    // Writes what waits, in order, then ends until more has to wait.
    void drain()
    {
        std::unique_lock lock(m_mutex);
        while (!m_queued.empty()) {
            QByteArray message;
            if (m_dropped > 0) {
                message = QByteArrayLiteral("[daemon] ") + QByteArray::number(m_dropped)
                    + QByteArrayLiteral(" lines dropped: standard output was not read\n");
                m_dropped = 0;
            } else {
                message = m_queued.front();
                m_queuedBytes -= message.size();
                m_queued.pop_front();
            }
            m_writing = true;
            lock.unlock();
            writeAll(message);
            lock.lock();
            m_writing = false;
        }
        m_threadRunning = false;
        m_drained.notify_all();
    }

    static void writeAll(const QByteArray &message)
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

    std::mutex m_mutex;
    std::condition_variable m_drained;
    std::deque<QByteArray> m_queued;
    qsizetype m_queuedBytes = 0;
    qint64 m_dropped = 0;
    bool m_writing = false;
    bool m_threadRunning = false;
};

Writer &writer()
{
    // Made on first use and never destroyed, as its thread may outlive main.
    static Writer *const instance = new Writer;
    return *instance;
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
