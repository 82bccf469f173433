#include "daemon/output_reader.h"

#include <algorithm>
#include <array>
#include <cerrno>

#include <poll.h>
#include <unistd.h>

namespace {

bool isContinuationByte(char byte)
{
    return (uchar(byte) & 0xC0) == 0x80;
}

bool isLeadByte(char byte)
{
    return uchar(byte) >= 0xC0;
}

// Where to cut `bytes` (longer than `limit`) so that a UTF-8 character
// crossing `limit` moves whole into the next piece. Invalid sequences are cut
// at `limit`: they decode to U+FFFD either way.
qsizetype cutBetweenCharacters(const QByteArray &bytes, qsizetype limit)
{
    constexpr qsizetype longestCharacter = 4;
    qsizetype cut = limit;
    while (cut > limit - (longestCharacter - 1) && isContinuationByte(bytes.at(cut)))
        --cut;
    return cut < limit && isLeadByte(bytes.at(cut)) ? cut : limit;
}

// Controls other than tab as visible escapes (\x1b, \u009b), so nothing the
// daemon prints reaches a terminal as a control sequence.
QString withVisibleControls(const QString &text)
{
    const auto isControl = [](QChar c) {
        const char16_t code = c.unicode();
        return (code < 0x20 && code != u'\t') || (code >= 0x7F && code <= 0x9F);
    };
    if (std::none_of(text.begin(), text.end(), isControl))
        return text;
    QString shown;
    shown.reserve(text.size() + 16);
    for (const QChar c : text) {
        if (!isControl(c))
            shown += c;
        else if (c.unicode() < 0x80)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return shown;
}

} // namespace

QStringList OutputLineSplitter::feed(QByteArrayView chunk)
{
    QStringList lines;
    for (qsizetype lineFeed = chunk.indexOf('\n'); lineFeed >= 0; lineFeed = chunk.indexOf('\n')) {
        hold(chunk.first(lineFeed), lines);
        lines.append(takeHeld(m_held.size(), true));
        chunk = chunk.sliced(lineFeed + 1);
    }
    hold(chunk, lines);
    return lines;
}

std::optional<QString> OutputLineSplitter::finish()
{
    if (m_held.isEmpty())
        return std::nullopt;
    return takeHeld(m_held.size(), false);
}

void OutputLineSplitter::hold(QByteArrayView bytes, QStringList &lines)
{
    m_held.append(bytes);
    while (m_held.size() > maxLineBytes)
        lines.append(takeHeld(cutBetweenCharacters(m_held, maxLineBytes), false));
}

QString OutputLineSplitter::takeHeld(qsizetype size, bool endsLine)
{
    QByteArrayView bytes = QByteArrayView(m_held).first(size);
    // A line ended by CR LF ends where its line feed is.
    if (endsLine && bytes.endsWith('\r'))
        bytes.chop(1);
    const QString text = withVisibleControls(QString::fromUtf8(bytes));
    m_held.remove(0, size);
    return text;
}

OutputReader::OutputReader(int fd, LineHandler onLine) : m_fd(fd), m_onLine(std::move(onLine)) {}

void OutputReader::readUntilReadable(int fd)
{
    std::array<pollfd, 2> watched{{{m_fd, POLLIN, 0}, {fd, POLLIN, 0}}};
    for (;;) {
        // poll skips a negative descriptor: once the pipe has ended, only `fd` is watched.
        watched[0].fd = m_ended ? -1 : m_fd;
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (watched[0].revents != 0)
            m_ended = !readOnce();
        if (watched[1].revents != 0)
            return;
    }
}

void OutputReader::finish(std::chrono::milliseconds grace)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + grace;
    while (!m_ended) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd pipe{m_fd, POLLIN, 0};
        const int ready = ::poll(&pipe, 1, int(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 1)
            break;
        m_ended = !readOnce();
    }
    if (const std::optional<QString> rest = m_splitter.finish())
        m_onLine(*rest);
}

bool OutputReader::readOnce()
{
    std::array<char, 4096> buffer;
    const ssize_t received = ::read(m_fd, buffer.data(), buffer.size());
    if (received < 0)
        return errno == EINTR;
    if (received == 0)
        return false;
    for (const QString &line : m_splitter.feed(QByteArrayView(buffer.data(), received)))
        m_onLine(line);
    return true;
}
