#pragma once

#include "tray/sway_ipc.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QTimer>

#include <optional>

class PopoverHost;

// What sway's answers tell of the panel's window (by its process) and its
// surroundings: the window's rectangle, the output it is on, and that
// output's free area (the visible workspace's: the output less its bars).
struct SwayScene {
    QRect window;
    QRect output;
    QRect freeArea;
};

std::optional<SwayScene> swayScene(const QByteArray &outputs, const QByteArray &workspaces, const QByteArray &tree,
                                   qint64 pid);

// Where the panel's top left goes, flush with the bar: under `icon` when it
// was seen, else at the bar's far end. Only the icon's place along the bar
// counts: across it, the bar is where the icon is.
QPoint swayPanelPosition(const SwayScene &scene, std::optional<QPoint> icon);

// Where the pointer, on the icon, was for a window sway just moved to it:
// sway puts the window's middle there (QRect::center() rounds it down), but
// keeps it on the output, so near an edge the middle is off the pointer.
// Along the bar, the panel is then pulled against the edge of the free area
// all the same; across it, the bar itself says where the icon is.
QPoint swayPointer(QRect movedWindow);

// Puts the panel at its icon on sway, which places a new floating window in
// the middle of the output and takes no position from the program: asked
// over sway's IPC ($SWAYSOCK) once the panel shows. A click's opening first
// moves the window to the pointer, which is on the icon, and reads where it
// went; that point is kept for openings that no click started. Nothing
// happens without $SWAYSOCK; every exchange is bounded in time.
class SwayPlacement : public QObject {
    Q_OBJECT
public:
    // Where the window must be mapped before sway finds it: tried again this often, up to `attempts` times.
    static constexpr std::chrono::milliseconds retryInterval{50};
    static constexpr int attempts = 20;
    static constexpr std::chrono::milliseconds exchangeTimeout{1000};

    SwayPlacement(QByteArray socketPath, qint64 pid, QObject *parent = nullptr);

    // When `host` shows the panel under its icon, places it; `host` is held weakly.
    void follow(PopoverHost &host);
    void place(bool byClick);

private:
    void attempt();
    void answered(const SwayMessage::Message &message);
    void finish();

    QByteArray m_socketPath;
    qint64 m_pid;
    std::optional<QPoint> m_icon;
    // The exchange under way.
    QPointer<SwayIpc> m_ipc;
    QList<QByteArray> m_answers;
    bool m_byClick = false;
    int m_attemptsLeft = 0;
    QTimer m_retry;
    QTimer m_timeout;
};
