#pragma once

#include <QByteArray>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

// Writes messages in the order given without making their senders wait on a
// slow or stalled destination: what cannot go out at once waits, up to
// `capacity` bytes, for a thread that writes it and ends when nothing waits,
// so an idle writer costs no thread. Beyond the capacity the oldest whole
// messages are dropped, and one note saying how many takes their place.
// Messages from several threads go out whole.
class QueuedWriter : public std::enable_shared_from_this<QueuedWriter> {
public:
    // Writes one message, blocking as long as it takes; runs on one thread at a time.
    using Write = std::function<void(const QByteArray &message)>;
    // Writes `message` at once and returns true, or returns false to have it wait.
    using WriteAtOnce = std::function<bool(const QByteArray &message)>;
    using DropNote = std::function<QByteArray(qint64 dropped)>;

    // Shared, as the writing thread keeps the writer alive while it runs.
    static std::shared_ptr<QueuedWriter> create(Write write, DropNote dropNote, qsizetype capacity,
                                                WriteAtOnce writeAtOnce = {});

    // Queues `message`, or hands it to `writeAtOnce` when nothing waits; returns at once.
    void queue(const QByteArray &message);
    // Waits until everything queued is written, or `limit` has passed.
    void flush(std::chrono::milliseconds limit);

private:
    QueuedWriter(Write write, DropNote dropNote, qsizetype capacity, WriteAtOnce writeAtOnce);
    void drain();

    const Write m_write;
    const DropNote m_dropNote;
    const qsizetype m_capacity;
    const WriteAtOnce m_writeAtOnce;
    std::mutex m_mutex;
    std::condition_variable m_drained;
    std::deque<QByteArray> m_queued;
    qsizetype m_queuedBytes = 0;
    qint64 m_dropped = 0;
    bool m_writing = false;
    bool m_threadRunning = false;
};
