#include "tray/sway_placement.h"

#include "tray/popover_host.h"
#include "tray/popover_placement.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QRect rectOf(const QJsonValue &value)
{
    const QJsonObject rect = value.toObject();
    return {rect.value(u"x").toInt(), rect.value(u"y").toInt(), rect.value(u"width").toInt(),
            rect.value(u"height").toInt()};
}

// The rectangle of the first window of process `pid`, tiled or floating.
std::optional<QRect> windowOf(const QJsonObject &node, qint64 pid)
{
    if (node.value(u"pid").toInteger(-1) == pid)
        return rectOf(node.value(u"rect"));
    for (const auto *children : {u"nodes", u"floating_nodes"}) {
        for (const QJsonValue &child : node.value(QStringView(children)).toArray()) {
            if (std::optional<QRect> found = windowOf(child.toObject(), pid))
                return found;
        }
    }
    return std::nullopt;
}

bool succeeded(const QByteArray &commandAnswer)
{
    const QJsonArray results = QJsonDocument::fromJson(commandAnswer).array();
    return !results.isEmpty() && results.first().toObject().value(u"success").toBool();
}

} // namespace

std::optional<SwayScene> swayScene(const QByteArray &outputs, const QByteArray &workspaces, const QByteArray &tree,
                                   qint64 pid)
{
    const std::optional<QRect> window = windowOf(QJsonDocument::fromJson(tree).object(), pid);
    if (!window)
        return std::nullopt;
    for (const QJsonValue &output : QJsonDocument::fromJson(outputs).array()) {
        const QRect outputRect = rectOf(output[u"rect"]);
        if (!output[u"active"].toBool() || !outputRect.contains(window->center()))
            continue;
        for (const QJsonValue &workspace : QJsonDocument::fromJson(workspaces).array()) {
            if (workspace[u"visible"].toBool() && workspace[u"output"] == output[u"name"])
                return SwayScene{*window, outputRect, rectOf(workspace[u"rect"])};
        }
    }
    return std::nullopt;
}

QPoint swayPanelPosition(const SwayScene &scene, std::optional<QPoint> icon)
{
    const QRect &output = scene.output;
    const QRect &free = scene.freeArea;
    QRect anchor = edgeAnchor(output, free);
    if (icon) {
        const bool sideBar = free.top() == output.top() && free.bottom() == output.bottom() && free != output;
        if (sideBar)
            anchor.moveTop(icon->y());
        else
            anchor.moveLeft(icon->x());
    }
    return popoverGeometry(scene.window.size(), anchor, free).topLeft();
}

QPoint swayPointer(QRect movedWindow)
{
    return movedWindow.topLeft() + QPoint(movedWindow.width() / 2, movedWindow.height() / 2);
}

SwayPlacement::SwayPlacement(QByteArray socketPath, qint64 pid, QObject *parent)
    : QObject(parent), m_socketPath(std::move(socketPath)), m_pid(pid)
{
    m_retry.setSingleShot(true);
    m_timeout.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &SwayPlacement::attempt);
    connect(&m_timeout, &QTimer::timeout, this, &SwayPlacement::finish);
}

void SwayPlacement::follow(PopoverHost &host)
{
    connect(&host, &PopoverHost::shownAtIcon, this, &SwayPlacement::place);
}

void SwayPlacement::place(bool byClick)
{
    m_retry.stop();
    m_byClick = byClick;
    m_attemptsLeft = attempts;
    attempt();
}

void SwayPlacement::attempt()
{
    finish();
    --m_attemptsLeft;
    m_ipc = new SwayIpc(this);
    if (!m_ipc->open(m_socketPath))
        return finish();
    connect(m_ipc, &SwayIpc::answered, this, &SwayPlacement::answered);
    connect(m_ipc, &SwayIpc::failed, this, &SwayPlacement::finish);
    const QByteArray criteria = "[pid=" + QByteArray::number(m_pid) + "] ";
    // Asked all at once: sway answers in order, and the window's rectangle
    // is read after the move to the pointer.
    if (m_byClick)
        m_ipc->send(SwayMessage::runCommand, criteria + "move position mouse");
    m_ipc->send(SwayMessage::getOutputs, {});
    m_ipc->send(SwayMessage::getWorkspaces, {});
    m_ipc->send(SwayMessage::getTree, {});
    m_timeout.start(exchangeTimeout);
}

void SwayPlacement::answered(const SwayMessage::Message &message)
{
    m_answers.append(message.payload);
    const qsizetype asked = m_byClick ? 4 : 3;
    if (m_answers.size() < asked)
        return;
    if (m_answers.size() > asked)
        return finish(); // the move's answer: done
    const qsizetype first = asked - 3;
    const std::optional<SwayScene> scene =
        swayScene(m_answers[first], m_answers[first + 1], m_answers[first + 2], m_pid);
    // Not yet mapped: the window shows a moment after Qt is asked to show it.
    if (!scene || (m_byClick && !succeeded(m_answers[0]))) {
        finish();
        if (m_attemptsLeft > 0)
            m_retry.start(retryInterval);
        return;
    }
    if (m_byClick)
        m_icon = swayPointer(scene->window);
    const QPoint position = swayPanelPosition(*scene, m_icon);
    m_ipc->send(SwayMessage::runCommand,
                "[pid=" + QByteArray::number(m_pid) + "] move absolute position " + QByteArray::number(position.x())
                    + ' ' + QByteArray::number(position.y()));
}

void SwayPlacement::finish()
{
    m_timeout.stop();
    m_answers.clear();
    if (m_ipc) {
        m_ipc->disconnect(this);
        m_ipc->deleteLater();
    }
    m_ipc = nullptr;
}

#include "moc_sway_placement.cpp"
