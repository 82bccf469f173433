// The panel's window follows the desktop's colour scheme: the settings portal's preference as read at
// the start and then as it changes, and the desktop's palette where the portal states none. Against a
// portal on a bus of the test's own.
#include "fake_desktop_services.h"
#include "tray/desktop_color_scheme.h"

#include <QApplication>
#include <QTest>
#include <QWidget>

class DesktopColorSchemeTest : public QObject {
    Q_OBJECT
private slots:
    void panelFollowsThePortalThenThePalette()
    {
        FakeDesktop desktop;
        FakeSettingsPortal portal;
        QVERIFY2(desktop.start() && portal.serve(), "no X server or bus (scripts/install-deps installs them)");
        portal.colorScheme = 1;
        QWidget panel;
        followDesktopScheme(panel);
        const auto scheme = [&panel] { return colorSchemeOf(panel.palette()) == ColorScheme::dark ? "dark" : "light"; };
        QTRY_COMPARE(scheme(), "dark"); // read at the start
        portal.announce(2);
        QTRY_COMPARE(scheme(), "light");
        portal.announce(1);
        QTRY_COMPARE(scheme(), "dark");
        // No preference: the desktop's palette decides, as the panel next shows.
        portal.announce(0);
        QTRY_COMPARE(int(DesktopColorScheme::shared().preference()), int(SchemePreference::none));
        QApplication::setPalette(panelPalette(ColorScheme::dark));
        panel.show();
        QCOMPARE(scheme(), "dark");
        panel.hide();
        QApplication::setPalette(panelPalette(ColorScheme::light));
        panel.show();
        QCOMPARE(scheme(), "light");
    }
};

QTEST_MAIN(DesktopColorSchemeTest)
#include "test_desktop_color_scheme.moc"
