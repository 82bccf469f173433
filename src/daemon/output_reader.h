#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <thread>

// Turns a byte stream that arrives in arbitrary pieces into whole text lines.
// A partial line is held until its line feed arrives or the stream ends, so a
// line or a character split between reads comes out whole. Lines are decoded
// as UTF-8 with invalid bytes replaced by U+FFFD. A line longer than
// `maxLineBytes` comes out in pieces of at most that size, cut between
// characters, so output without line feeds cannot grow the held bytes.
class OutputLineSplitter {
public:
    static constexpr qsizetype maxLineBytes = 64 * 1024;

    // The lines that `chunk` completes, without their line feeds.
    QStringList feed(QByteArrayView chunk);
    // At the end of the stream: the held partial line, if there is one.
    std::optional<QString> finish();

private:
    void hold(QByteArrayView bytes, QStringList &lines);
    QString takeHeld(qsizetype size);

    QByteArray m_held;
};

// Reads a pipe on a thread of its own and hands over each whole line (see
// OutputLineSplitter above) until the pipe's end, where a held partial line is
// handed over too. The handler runs on the reading thread.
class OutputReader {
public:
    using LineHandler = std::function<void(const QString &line)>;

    // Starts reading at once. `fd` stays owned by the caller and must outlive the reader.
    OutputReader(int fd, LineHandler onLine);
    ~OutputReader();
    OutputReader(const OutputReader &) = delete;
    OutputReader &operator=(const OutputReader &) = delete;

    // Waits up to `grace` for the pipe's end, then stops reading (a process
    // that inherited the pipe may keep it open forever) and joins the thread.
    // When it returns, every line read has been handed over.
    void finish(std::chrono::milliseconds grace);

private:
    void run();

    const int m_fd;
    const int m_wakeFd;
    const LineHandler m_onLine;
    std::promise<void> m_done;
    std::future<void> m_doneFuture;
    std::thread m_thread;
};
