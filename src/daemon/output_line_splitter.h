#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

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
