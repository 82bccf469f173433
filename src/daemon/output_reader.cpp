#include "daemon/output_reader.h"

#include <array>
#include <cerrno>

#include <poll.h>
#include <sys/eventfd.h>
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

} // namespace

QStringList OutputLineSplitter::feed(QByteArrayView chunk)
{
    QStringList lines;
    for (qsizetype lineFeed = chunk.indexOf('\n'); lineFeed >= 0; lineFeed = chunk.indexOf('\n')) {
        hold(chunk.first(lineFeed), lines);
        lines.append(takeHeld(m_held.size()));
        chunk = chunk.sliced(lineFeed + 1);
    }
    hold(chunk, lines);
    return lines;
}

std::optional<QString> OutputLineSplitter::finish()
{
    if (m_held.isEmpty())
        return std::nullopt;
    return takeHeld(m_held.size());
}

void OutputLineSplitter::hold(QByteArrayView bytes, QStringList &lines)
{
    m_held.append(bytes);
    while (m_held.size() > maxLineBytes)
        lines.append(takeHeld(cutBetweenCharacters(m_held, maxLineBytes)));
}

QString OutputLineSplitter::takeHeld(qsizetype size)
{
    const QString text = QString::fromUtf8(QByteArrayView(m_held).first(size));
    m_held.remove(0, size);
    return text;
}

OutputReader::OutputReader(int fd, LineHandler onLine)
    : m_fd(fd), m_wakeFd(::eventfd(0, EFD_CLOEXEC)), m_onLine(std::move(onLine)), m_doneFuture(m_done.get_future()),
      m_thread([this] { run(); })
{
}

OutputReader::~OutputReader()
{
    finish(std::chrono::milliseconds(0));
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void OutputReader::finish(std::chrono::milliseconds grace)
{
    if (!m_thread.joinable())
        return;
    if (m_doneFuture.wait_for(grace) == std::future_status::timeout) {
        const eventfd_t wake = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wakeFd, &wake, sizeof(wake));
    }
    m_thread.join();
}

void OutputReader::run()
{
    OutputLineSplitter splitter;
    std::array<char, 4096> buffer;
    // poll skips a negative descriptor: without a wake descriptor, read until the end.
    std::array<pollfd, 2> watched{{{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}}};
    for (;;) {
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (watched[0].revents != 0) {
            const ssize_t received = ::read(m_fd, buffer.data(), buffer.size());
            if (received < 0 && errno == EINTR)
                continue;
            if (received <= 0)
                break;
            for (const QString &line : splitter.feed(QByteArrayView(buffer.data(), received)))
                m_onLine(line);
        }
        if (watched[1].revents != 0)
            break;
    }
    if (const std::optional<QString> rest = splitter.finish())
        m_onLine(*rest);
    m_done.set_value();
}
