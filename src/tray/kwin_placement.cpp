#include "tray/kwin_placement.h"

#include "tray/popover_host.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QLoggingCategory>
#include <QPointer>
#include <QSaveFile>

Q_DECLARE_LOGGING_CATEGORY(lcTray)

namespace {

const QString kwinService = QStringLiteral("org.kde.KWin");

QDBusMessage scriptingCall(const QString &method, const QVariantList &arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kwinService, QStringLiteral("/Scripting"),
                                                       QStringLiteral("org.kde.kwin.Scripting"), method);
    call.setArguments(arguments);
    return call;
}

// The rule of popover_placement.cpp, in KWin's language: flush with the
// panel the anchor is on, centred on it, within the work area.
constexpr char scriptText[] = R"js(
(function () {
    const pid = %1;
    const atPointer = %2;
    const seen = %3;
    const tornel = [%4];
    const added = workspace.windowAdded || workspace.clientAdded;
    const windows = workspace.windowList ? workspace.windowList() : workspace.clientList();
    function anchorOf(screen, area) {
        if (atPointer) {
            const at = {x: workspace.cursorPos.x, y: workspace.cursorPos.y};
            callDBus(tornel[0], tornel[1], tornel[2], "iconSeenAt", at.x + " " + at.y);
            return at;
        }
        if (seen)
            return seen;
        const top = area.y - screen.y, bottom = screen.y + screen.height - area.y - area.height;
        const left = area.x - screen.x, right = screen.x + screen.width - area.x - area.width;
        const far = {x: screen.x + screen.width - 1, y: screen.y + screen.height - 1};
        if (bottom > 0 && bottom >= Math.max(top, left, right))
            return {x: far.x, y: far.y - bottom / 2};
        if (top > 0 && top >= Math.max(left, right))
            return {x: far.x, y: screen.y + top / 2};
        if (left > 0 && left >= right)
            return {x: screen.x + left / 2, y: far.y};
        if (right > 0)
            return {x: far.x - right / 2, y: far.y};
        return {x: far.x, y: screen.y - 1};
    }
    function place(window) {
        if (window.pid !== pid || window.popupWindow || !(window.normalWindow || window.dialog))
            return false;
        const area = workspace.clientArea(KWin.PlacementArea, window);
        const screen = workspace.clientArea(KWin.ScreenArea, window);
        const size = window.frameGeometry;
        const anchor = anchorOf(screen, area);
        const upwards = anchor.y > area.y + area.height / 2;
        const x = Math.round(anchor.x - size.width / 2);
        const y = Math.round(upwards ? anchor.y - size.height : anchor.y + 1);
        window.skipTaskbar = true;
        window.skipSwitcher = true;
        window.skipPager = true;
        window.keepAbove = true;
        window.frameGeometry = {
            x: Math.max(area.x, Math.min(x, area.x + area.width - size.width)),
            y: Math.max(area.y, Math.min(y, area.y + area.height - size.height)),
            width: size.width, height: size.height
        };
        return true;
    }
    function onAdded(window) {
        if (place(window))
            added.disconnect(onAdded);
    }
    if (!windows.some(place))
        added.connect(onAdded);
})();
)js";

} // namespace

QByteArray kwinPlacementScript(qint64 pid, bool atPointer, std::optional<QPoint> iconSeenAt, const QString &busName)
{
    const QString seen = iconSeenAt ? QStringLiteral("{x: %1, y: %2}").arg(iconSeenAt->x()).arg(iconSeenAt->y())
                                    : QStringLiteral("null");
    // A bus name holds only letters, digits, '.', ':', '_' and '-': nothing to escape.
    const QString tornel =
        QStringLiteral("\"%1\", \"%2\", \"%3\"")
            .arg(busName, QLatin1String(KWinPlacement::objectPath), QLatin1String(KWinPlacement::interfaceName));
    return QString::fromLatin1(scriptText)
        .arg(QString::number(pid), atPointer ? QStringLiteral("true") : QStringLiteral("false"), seen, tornel)
        .toUtf8();
}

KWinPlacement::KWinPlacement(QDBusConnection bus, QString directory, qint64 pid, QObject *parent)
    : QObject(parent), m_bus(std::move(bus)),
      m_scriptPath(directory + u'/' + QLatin1String(scriptName) + QStringLiteral(".js")), m_pid(pid)
{
    m_bus.registerObject(QLatin1String(objectPath), this, QDBusConnection::ExportScriptableSlots);
}

KWinPlacement::~KWinPlacement()
{
    if (m_loaded)
        m_bus.call(scriptingCall(QStringLiteral("unloadScript"), {QLatin1String(scriptName)}), QDBus::Block,
                   unloadTimeoutMs);
}

void KWinPlacement::iconSeenAt(const QString &point)
{
    const QStringList xy = point.split(u' ');
    bool xRead = false;
    bool yRead = false;
    const QPoint at(xy.value(0).toInt(&xRead), xy.value(1).toInt(&yRead));
    if (xy.size() == 2 && xRead && yRead)
        m_iconSeenAt = at;
}

void KWinPlacement::follow(PopoverHost &host)
{
    connect(&host, &PopoverHost::shownAtIcon, this, &KWinPlacement::place);
}

void KWinPlacement::place(bool byClick)
{
    QSaveFile file(m_scriptPath);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(kwinPlacementScript(m_pid, byClick, m_iconSeenAt, m_bus.baseService())) < 0 || !file.commit()) {
        qCWarning(lcTray, "cannot write the panel's placement for KWin to %s", qPrintable(m_scriptPath));
        return;
    }
    m_loaded = true;
    // KWin lets go of an unloaded script only once back in its event loop,
    // and refuses a name still in use: loaded once the unload is answered.
    const QDBusPendingCall unloading =
        m_bus.asyncCall(scriptingCall(QStringLiteral("unloadScript"), {QLatin1String(scriptName)}), callTimeoutMs);
    auto *unloaded = new QDBusPendingCallWatcher(unloading, this);
    connect(unloaded, &QDBusPendingCallWatcher::finished, this, [this, unloaded] {
        unloaded->deleteLater();
        const QDBusPendingCall loading = m_bus.asyncCall(
            scriptingCall(QStringLiteral("loadScript"), {m_scriptPath, QLatin1String(scriptName)}), callTimeoutMs);
        auto *loaded = new QDBusPendingCallWatcher(loading, this);
        connect(loaded, &QDBusPendingCallWatcher::finished, this, [this, loaded] {
            loaded->deleteLater();
            const QDBusPendingReply<int> id = *loaded;
            if (id.isError() || id.value() < 0) {
                qCInfo(lcTray, "KWin did not take the panel's placement: %s", qPrintable(id.error().message()));
                return;
            }
            // Not run() on the script's object: KWin 5.27 numbers scripts by
            // their place in its list, so after an unload the number, and the
            // object under it, can be another script's. start() runs every
            // loaded script that is not running yet.
            m_bus.asyncCall(scriptingCall(QStringLiteral("start"), {}), callTimeoutMs);
        });
    });
}

#include "moc_kwin_placement.cpp"
