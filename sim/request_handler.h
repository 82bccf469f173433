#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

class SimulatedAccount;

// Turns one request line into one answer line: a JSON-RPC 2.0 "result" for
// the methods the companion calls, an "error" object for everything else.
class RequestHandler {
public:
    explicit RequestHandler(SimulatedAccount &account) : m_account(account) {}

    QByteArray answer(const QByteArray &requestLine);

    // An "error" answer to the request (with its "id" when it has one),
    // without carrying out what it asked for.
    static QByteArray failure(const QByteArray &requestLine, const QString &message);

private:
    QJsonValue dispatch(const QString &method, const QJsonObject &params, QJsonObject &error);

    SimulatedAccount &m_account;
};
