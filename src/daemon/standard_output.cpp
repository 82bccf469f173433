#include "daemon/standard_output.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <cerrno>

#include <unistd.h>

namespace {

class Writer {
public:
    Writer()
    {
        // Never joined: a thread blocked on a stalled reader must not hold up
        // the end of the process, which ends it.
        std::thread([this] { run(); }).detach();
    }

    void queue(const QByteArray &message)
    {
        {
            std::lock_guard lock(m_mutex);
            m_queued.push_back(message);
            m_queuedBytes += message.size();
            while (m_queuedBytes > StandardOutput::capacity && !m_queued.empty()) {
                m_queuedBytes -= m_queued.front().size();
                m_queued.pop_front();
                ++m_dropped;
            }
        }
        m_changed.notify_all();
    }

    void flush(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, limit, [this] { return m_queued.empty() && !m_writing; });
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return !m_queued.empty(); });
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
            m_changed.notify_all();
        }
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
    std::condition_variable m_changed;
    std::deque<QByteArray> m_queued;
    qsizetype m_queuedBytes = 0;
    qint64 m_dropped = 0;
    bool m_writing = false;
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
