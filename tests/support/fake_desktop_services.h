#pragma once

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSet>
#include <QStringList>
#include <QDBusVariant>
#include <QVariantMap>

// The desktop's D-Bus services as the tests play them, on a bus of their own.

// A notification server that reads markup and offers actions, and records what it is asked to show.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Notification {
        QStringList sender; // application, icon, desktop entry
        QString summary, body;
        QStringList actions;
        qint64 replacesId, id, atMs;
        int urgency;       // the hint: 0 low, 1 normal, 2 critical
        int expireTimeout; // -1: the server's default, 0: never
        QImage image;      // the image-data hint's pixels; null without one
    };
    QList<Notification> shown;
    QElapsedTimer clock;

    // Serves on the session bus as the desktop's one notification server.
    bool serve();
    // The notifications of the sync topic, whose summaries are these.
    QList<Notification> about(const QStringList &summaries) const;

public slots:
    QStringList GetCapabilities() { return {QStringLiteral("body-markup"), QStringLiteral("actions")}; }
    uint Notify(const QString &application, uint replacesId, const QString &icon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int expireTimeout);

signals:
    void ActionInvoked(uint id, const QString &actionKey);
    // Reason 1: expired, 2: closed by the user.
    void NotificationClosed(uint id, uint reason);
};

// The settings portal's colour scheme (0 no preference, 1 dark, 2 light), read and announced as a change.
class FakeSettingsPortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    uint colorScheme = 0;

    // Serves under the portal's name, which FakeDesktop holds.
    bool serve();
    void announce(uint scheme);

public slots:
    // As the portal does, the value in one variant more than the signal's.
    QDBusVariant Read(const QString &, const QString &)
    {
        return QDBusVariant(QVariant::fromValue(QDBusVariant(colorScheme)));
    }

signals:
    void SettingChanged(const QString &group, const QString &key, const QDBusVariant &value);
};

// An X server and a session bus of the test's own, made this process's
// DISPLAY and DBUS_SESSION_BUS_ADDRESS, with a notification server on the
// bus. The desktop's settings portal is the test's to play, so the bus starts
// none installed here.
class FakeDesktop {
public:
    // True once everything serves.
    bool start();
    // What a companion needs to show itself on this desktop.
    QProcessEnvironment companionEnvironment() const;

    FakeNotificationServer notifications;

private:
    QProcess m_xServer;
    QProcess m_bus;
};

// Enough of a StatusNotifierItem watcher for Qt: a host is registered, and
// items register themselves with their bus name.
class FakeStatusNotifierWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
public:
    bool isHostRegistered() const { return true; }
    QStringList items;

    // Serves on the session bus, so a tray counts as present.
    bool serve();
    void stopServing();

public slots:
    void RegisterStatusNotifierItem(const QString &service) { items.append(service); }
};

// Enough of KWin's scripting for a program that hands it scripts: loads by
// name (refused while that name is loaded, as KWin does), starts what is
// loaded and unloads, all recorded with the script's text. On a connection
// of its own, as KWin is another program.
class FakeKWinScripting : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.kwin.Scripting")
public:
    QStringList calls; // "load <name> <path>", "start", "unload <name>"
    QList<QByteArray> scripts;
    QSet<QString> loaded;

    bool serve();
    ~FakeKWinScripting() override;

public slots:
    int loadScript(const QString &path, const QString &name);
    bool unloadScript(const QString &name);
    void start() { calls.append(QStringLiteral("start")); }

private:
    QDBusConnection m_bus{QString()};
};
