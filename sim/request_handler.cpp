#include "request_handler.h"

#include "sim_log.h"
#include "simulated_account.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace {

using namespace Qt::StringLiterals;

// JSON-RPC 2.0 error codes; the daemon's own refusals use -32000.
constexpr int parseErrorCode = -32700;
constexpr int invalidRequestCode = -32600;
constexpr int unknownMethodCode = -32601;
constexpr int invalidParamsCode = -32602;
constexpr int refusedCode = -32000;

QJsonObject errorObject(int code, const QString &message)
{
    return {{u"code"_s, code}, {u"message"_s, message}};
}

QByteArray envelope(const QJsonValue &id, const QString &member, const QJsonValue &value)
{
    const QJsonObject object{{u"jsonrpc"_s, u"2.0"_s}, {u"id"_s, id}, {member, value}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray errorAnswer(const QJsonValue &id, const QJsonObject &error)
{
    simLog(u"Answered error: %1"_s.arg(error.value(u"message"_s).toString()));
    return envelope(id, u"error"_s, error);
}

// The request's "id" when it is one JSON-RPC allows, otherwise null.
QJsonValue requestId(const QJsonObject &request)
{
    const QJsonValue id = request.value(u"id"_s);
    return id.isString() || id.isDouble() ? id : QJsonValue();
}

QString idText(const QJsonValue &id)
{
    if (id.isString())
        return u"\"%1\""_s.arg(id.toString());
    return id.isDouble() ? QString::number(id.toDouble(), 'g', 17) : u"none"_s;
}

QJsonObject failureOf(const SimulatedAccount::Failure &failure)
{
    return failure ? errorObject(refusedCode, *failure) : QJsonObject();
}

} // namespace

QByteArray RequestHandler::answer(const QByteArray &requestLine)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(requestLine, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return errorAnswer(QJsonValue(), errorObject(parseErrorCode, u"Parse error: "_s + parseError.errorString()));
    if (!document.isObject())
        return errorAnswer(QJsonValue(), errorObject(invalidRequestCode, u"Invalid request: not a JSON object"_s));

    const QJsonObject request = document.object();
    const QJsonValue id = requestId(request);
    const QJsonValue method = request.value(u"method"_s);
    const QJsonValue params = request.value(u"params"_s);
    if (request.value(u"jsonrpc"_s) != u"2.0"_s || !method.isString()
        || !(params.isUndefined() || params.isObject())) {
        return errorAnswer(id, errorObject(invalidRequestCode,
                                           u"Invalid request: expected \"jsonrpc\": \"2.0\", a string \"method\" "
                                           "and, if any, object \"params\""_s));
    }

    const QString name = method.toString();
    simLog(u"Request: %1 (id %2)"_s.arg(name, idText(id)));
    QJsonObject error;
    const QJsonValue result = dispatch(name, params.toObject(), error);
    if (!error.isEmpty())
        return errorAnswer(id, error);
    return envelope(id, u"result"_s, result);
}

QByteArray RequestHandler::failure(const QByteArray &requestLine, const QString &message)
{
    const QJsonObject request = QJsonDocument::fromJson(requestLine).object();
    return envelope(requestId(request), u"error"_s, errorObject(refusedCode, message));
}

QJsonValue RequestHandler::dispatch(const QString &method, const QJsonObject &params, QJsonObject &error)
{
    if (method == "status"_L1)
        return m_account.status();
    if (method == "pause"_L1) {
        error = failureOf(m_account.pause());
    } else if (method == "resume"_L1) {
        error = failureOf(m_account.resume());
    } else if (method == "logout"_L1) {
        m_account.logout();
    } else if (method == "login"_L1) {
        const QJsonValue email = params.value(u"email"_s);
        const QJsonValue password = params.value(u"password"_s);
        const QJsonValue serverUrl = params.value(u"serverUrl"_s);
        if (!email.isString() || !password.isString() || !(serverUrl.isUndefined() || serverUrl.isString())) {
            error = errorObject(invalidParamsCode,
                                u"Invalid params: \"email\" and \"password\" are required strings, "
                                "\"serverUrl\" an optional string"_s);
        } else {
            error = failureOf(m_account.login(email.toString(), password.toString(), serverUrl.toString()));
        }
    } else {
        error = errorObject(unknownMethodCode, u"Unknown method: "_s + method);
    }
    // Commands answer with the record as it stands after them.
    return m_account.status();
}
