#include "daemon/queued_writer.h"

#include <thread>

std::shared_ptr<QueuedWriter> QueuedWriter::create(Write write, DropNote dropNote, qsizetype capacity,
                                                   WriteAtOnce writeAtOnce)
{
    return std::shared_ptr<QueuedWriter>(
        new QueuedWriter(std::move(write), std::move(dropNote), capacity, std::move(writeAtOnce)));
}

QueuedWriter::QueuedWriter(Write write, DropNote dropNote, qsizetype capacity, WriteAtOnce writeAtOnce)
    : m_write(std::move(write)), m_dropNote(std::move(dropNote)), m_capacity(capacity),
      m_writeAtOnce(std::move(writeAtOnce))
{}

void QueuedWriter::queue(const QByteArray &message)
{
    std::lock_guard lock(m_mutex);
    // Under the lock, so nothing queued meanwhile can overtake it.
    if (m_queued.empty() && !m_writing && m_writeAtOnce && m_writeAtOnce(message))
        return;
    m_queued.push_back(message);
    m_queuedBytes += message.size();
    while (m_queuedBytes > m_capacity && !m_queued.empty()) {
        m_queuedBytes -= m_queued.front().size();
        m_queued.pop_front();
        ++m_dropped;
    }
    if (!m_threadRunning) {
        m_threadRunning = true;
        // Never joined: a thread blocked on a stalled destination must not
        // hold up the end of the process, which ends it.
        std::thread([self = shared_from_this()] { self->drain(); }).detach();
    }
}

void QueuedWriter::flush(std::chrono::milliseconds limit)
{
    std::unique_lock lock(m_mutex);
    m_drained.wait_for(lock, limit, [this] { return m_queued.empty() && !m_writing; });
}

void QueuedWriter::drain()
{
    std::unique_lock lock(m_mutex);
    while (!m_queued.empty()) {
        QByteArray message;
        if (m_dropped > 0) {
            message = m_dropNote(m_dropped);
            m_dropped = 0;
        } else {
            message = m_queued.front();
            m_queuedBytes -= message.size();
            m_queued.pop_front();
        }
        m_writing = true;
        lock.unlock();
        m_write(message);
        lock.lock();
        m_writing = false;
    }
    m_threadRunning = false;
    m_drained.notify_all();
}
