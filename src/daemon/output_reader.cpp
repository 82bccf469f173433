#include "daemon/output_reader.h"

#include "daemon/output_line_splitter.h"

#include <array>
#include <cerrno>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

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
