#pragma once

#include <QByteArray>

#include <chrono>

// The companion's standard output, which never blocks its writers: a reader
// that stalls (a terminal paused with Ctrl-S, a pipe or logger nobody reads)
// holds up neither the daemon's supervision nor quitting. A message goes out
// at once while the output takes it; else it waits, up to `capacity` bytes,
// for a thread that writes it when it can (and ends when nothing waits);
// beyond that the oldest whole messages are dropped, and one "[daemon] N
// lines dropped" note takes their place. Messages from several threads go
// out whole, in the order given.
namespace StandardOutput {

inline constexpr qsizetype capacity = 1024 * 1024;

// Queues `message` (its line feed included) and returns at once.
void write(const QByteArray &message);
// Waits until everything queued is written, or `limit` has passed.
void flush(std::chrono::milliseconds limit);

} // namespace StandardOutput
