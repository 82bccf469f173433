// Notifications show Tornel's icon wherever it runs: by name where the icon theme has it, as pixels
// (the image-data hint) where it has not, as when run from the build tree. Against a notification
// server on a bus of the test's own.
#include "fake_desktop_services.h"
#include "notify/desktop_notifications.h"

#include <QGuiApplication>
#include <QIcon>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class NotificationIconTest : public QObject {
    Q_OBJECT
    FakeDesktop m_desktop;

private slots:
    void initTestCase()
    {
        QVERIFY2(m_desktop.start(), "no X server or bus (scripts/install-deps installs Xvfb and D-Bus)");
        QGuiApplication::setDesktopFileName(u"org.tornel.Tornel"_s);
    }

    void iconByNameOrPixels_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::newRow("installed") << true;
        QTest::newRow("from the build tree") << false;
    }

    void iconByNameOrPixels()
    {
        QFETCH(bool, installed);
        QTemporaryDir icons;
        const QString apps = icons.filePath(u"hicolor/scalable/apps"_s);
        QVERIFY(QDir().mkpath(apps)
                && QFile::copy(u"/usr/share/icons/hicolor/index.theme"_s, icons.filePath(u"hicolor/index.theme"_s)));
        if (installed)
            QVERIFY(QFile::copy(QStringLiteral(TORNEL_ICON_PATH), apps + u"/org.tornel.Tornel.svg"_s));
        QIcon::setThemeSearchPaths({icons.path()});
        QIcon::setThemeName(u"hicolor"_s);

        m_desktop.notifications.shown.clear();
        DesktopNotifications notifications;
        notifications.trayMissing();
        QTRY_COMPARE(m_desktop.notifications.shown.size(), 1);
        const FakeNotificationServer::Notification shown = m_desktop.notifications.shown.constFirst();
        QCOMPARE(shown.sender.value(1), u"org.tornel.Tornel"_s);
        QCOMPARE(shown.image.isNull(), installed);
        if (installed)
            return;
        // Tornel's blue disc in the middle, nothing in the corners: the bytes in the order the hint says.
        const QColor middle = shown.image.pixelColor(shown.image.width() / 2, shown.image.height() / 2);
        QVERIFY2(middle.alpha() == 255 && middle.blue() > 180 && middle.red() < 90, qPrintable(middle.name()));
        QCOMPARE(shown.image.pixelColor(0, 0).alpha(), 0);
    }
};

QTEST_MAIN(NotificationIconTest)
#include "test_notification_icon.moc"
