#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QPoint>
#include <QString>

#include <optional>

class PopoverHost;

// The script KWin runs to place the panel of process `pid` once, as it
// appears or at once if it is up: at the pointer (`atPointer`, for a click
// on the icon, which has the pointer on it), whose place it tells back to
// Tornel at `busName` (see KWinPlacement::iconSeenAt); else at the icon
// seen last, or else at the far end of the desktop's panel; within the work
// area, flush with the panel, kept above and out of the taskbar and the
// window switcher. It speaks both Plasma 5's names (clientAdded, clientList)
// and Plasma 6's (windowAdded, windowList).
QByteArray kwinPlacementScript(qint64 pid, bool atPointer, std::optional<QPoint> iconSeenAt, const QString &busName);

// Puts the panel at its icon on Plasma's Wayland session, where a window
// cannot place itself: at each opening a script is handed to KWin over the
// session bus (org.kde.kwin.Scripting), always by the same name, unloaded
// first, so a Tornel that crashed leaves no second copy behind; the last
// one is unloaded on the way out. Every call but that last is asynchronous.
class KWinPlacement : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.tornel.PanelPlacement")
public:
    // Where the script tells where the icon was clicked.
    static constexpr char objectPath[] = "/org/tornel/PanelPlacement";
    static constexpr char interfaceName[] = "org.tornel.PanelPlacement";
    static constexpr char scriptName[] = "tornel-panel-placement";
    static constexpr int callTimeoutMs = 1000;
    // Spent at most on the way out.
    static constexpr int unloadTimeoutMs = 500;

    // The script is written into `directory`, private to the user.
    KWinPlacement(QDBusConnection bus, QString directory, qint64 pid, QObject *parent = nullptr);
    ~KWinPlacement() override;

    // When `host` shows the panel under its icon, places it.
    void follow(PopoverHost &host);
    void place(bool byClick);

public slots:
    // From the script: the pointer's place at a click on the icon, "x y";
    // later openings that no click started hang from there.
    Q_SCRIPTABLE void iconSeenAt(const QString &point);

private:
    QDBusConnection m_bus;
    QString m_scriptPath;
    qint64 m_pid;
    std::optional<QPoint> m_iconSeenAt;
    bool m_loaded = false;
};
