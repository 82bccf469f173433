#pragma once

#include "daemon/ipc_client.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSemaphore>
#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>

// Requests through IPCClient, for tests that link the daemon library. What
// one request's completion received, how often it ran, and where; a test
// waits on the semaphore, not on an event loop: completions run on workers.
struct IPCCall {
    QSemaphore finished;
    std::atomic<int> calls{0};
    std::mutex mutex;
    IPCResult result;
    QThread *thread = nullptr;
};

inline std::shared_ptr<IPCCall> startCall(IPCClient &client, const QString &method,
                                          const std::optional<QJsonObject> &params = std::nullopt)
{
    auto call = std::make_shared<IPCCall>();
    client.send(method, params, [call](const IPCResult &result) {
        {
            std::lock_guard lock(call->mutex);
            call->result = result;
            call->thread = QThread::currentThread();
        }
        ++call->calls;
        call->finished.release();
    });
    return call;
}

// The result, or the failure "still pending" when none came within `timeoutMs`.
inline IPCResult awaitCall(const std::shared_ptr<IPCCall> &call, int timeoutMs = 5000)
{
    if (!call->finished.tryAcquire(1, timeoutMs))
        return IPCError{QStringLiteral("still pending")};
    call->finished.release();
    std::lock_guard lock(call->mutex);
    return call->result;
}

// "value: <compact JSON>" or "failure: <description>", so one column compares both.
inline QString describe(const IPCResult &result)
{
    if (const auto *error = std::get_if<IPCError>(&result))
        return QStringLiteral("failure: ") + error->description();
    const QByteArray wrapped = QJsonDocument(QJsonArray{std::get<QJsonValue>(result)}).toJson(QJsonDocument::Compact);
    return QStringLiteral("value: ") + QString::fromUtf8(wrapped.mid(1, wrapped.size() - 2));
}

inline QString outcome(const std::shared_ptr<IPCCall> &call, int timeoutMs = 5000)
{
    return describe(awaitCall(call, timeoutMs));
}
