#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <future>
#include <thread>

// Reads a pipe on a thread of its own and hands over each whole line (see
// OutputLineSplitter) until the pipe's end, where a held partial line is
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
