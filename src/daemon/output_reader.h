#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

// Turns a byte stream that arrives in arbitrary pieces into whole text lines.
// A partial line is held until its line feed arrives or the stream ends, so a
// line or a character split between reads comes out whole. Lines are decoded
// as UTF-8 with invalid bytes replaced by U+FFFD, and control characters
// other than tab come out as visible escapes (\x1b, \u009b), so the lines
// are safe to echo on a terminal; a CR before the line feed is dropped with
// it. A line longer than
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
    // `endsLine`: the bytes are a whole line, whose line feed was found.
    QString takeHeld(qsizetype size, bool endsLine);

    QByteArray m_held;
};

// Reads a pipe on the calling thread and hands over each whole line (see
// OutputLineSplitter above), while that thread also waits for something else:
// the daemon's supervisor reads its output and notices its exit on one thread.
class OutputReader {
public:
    using LineHandler = std::function<void(const QString &line)>;

    // `fd` stays owned by the caller and must outlive the reader.
    OutputReader(int fd, LineHandler onLine);

    // Hands over lines as they arrive until `fd` becomes readable (a pidfd:
    // the process has ended), or until poll fails.
    void readUntilReadable(int fd);
    // Hands over what follows until the pipe's end, or until `grace` has
    // passed (a process that inherited the pipe may keep it open forever),
    // and then a held partial line.
    void finish(std::chrono::milliseconds grace);

private:
    // Reads once and hands over the lines completed; false at the pipe's end.
    bool readOnce();

    const int m_fd;
    const LineHandler m_onLine;
    OutputLineSplitter m_splitter;
    bool m_ended = false;
};
