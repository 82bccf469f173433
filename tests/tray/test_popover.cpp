#include "model_driver.h"

#include "daemon/daemon_manager.h"
#include "tray/popover_host.h"
#include "tray/tray_menu.h"
#include "views/login_view.h"
#include "views/menu_bar_view.h"

#include <QLineEdit>
#include <QMenu>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using SteadyTime = std::chrono::steady_clock::time_point;

class TestPopover : public QObject {
    Q_OBJECT

private slots:
    void placement_data();
    void placement();
    void hostKeepsItsPanelAcrossOpenings();
    void trayMenu();
};

void TestPopover::placement_data()
{
    QTest::addColumn<QRect>("trayIcon");
    QTest::addColumn<QPoint>("pointer");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QRect>("expected");
    const QSize panel(320, 400);
    QTest::newRow("under an icon in a top bar, pushed in from the right edge")
        << QRect(1850, 2, 24, 24) << QPoint(0, 0) << QRect(0, 28, 1920, 1052) << QRect(QPoint(1600, 28), panel);
    QTest::newRow("above an icon in a bottom panel")
        << QRect(100, 1050, 24, 24) << QPoint(0, 0) << QRect(0, 0, 1920, 1040) << QRect(QPoint(0, 640), panel);
    QTest::newRow("at the pointer, top")
        << QRect() << QPoint(500, 10) << QRect(0, 28, 1920, 1052) << QRect(QPoint(340, 28), panel);
    QTest::newRow("at the pointer, bottom")
        << QRect() << QPoint(500, 1075) << QRect(0, 0, 1920, 1040) << QRect(QPoint(340, 640), panel);
    QTest::newRow("second screen")
        << QRect() << QPoint(3190, 5) << QRect(1920, 0, 1280, 1024) << QRect(QPoint(2880, 6), panel);
}

void TestPopover::placement()
{
    QFETCH(QRect, trayIcon);
    QFETCH(QPoint, pointer);
    QFETCH(QRect, available);
    QFETCH(QRect, expected);
    QCOMPARE(popoverGeometry(QSize(320, 400), trayIcon, pointer, available), expected);
}

void TestPopover::hostKeepsItsPanelAcrossOpenings()
{
    ModelDriver model;
    DaemonManager daemonManager;
    SteadyTime now{100s};
    PopoverHost host(model.state(), daemonManager, [&now] { return now; });
    MenuBarView *panel = &host.panel();

    host.toggle();
    QVERIFY(host.isVisible());
    QCOMPARE(host.size(), QSize(320, 400));
    panel->setShowingLogin(true);
    QTest::keyClicks(panel->loginView()->findChild<QLineEdit *>(u"emailField"_s), u"me@example.com"_s);

    QTest::keyClick(panel->loginView()->findChild<QLineEdit *>(u"emailField"_s), Qt::Key_Escape);
    QVERIFY(!host.isVisible());
    host.toggle();
    QVERIFY(!host.isVisible()); // the same click that closed it
    now += 1s;
    host.toggle();
    QVERIFY(host.isVisible());
    host.toggle();
    host.open(); // asked for, as by the tray menu: the debounce does not apply
    QVERIFY(host.isVisible());
    QCOMPARE(&host.panel(), panel);
    QVERIFY(panel->showingLogin());
    QCOMPARE(panel->loginView()->findChild<QLineEdit *>(u"emailField"_s)->text(), u"me@example.com"_s);
}

void TestPopover::trayMenu()
{
    ModelDriver model;
    DaemonManager daemonManager;
    PopoverHost host(model.state(), daemonManager);
    QMenu menu;
    TrayMenu trayMenu(menu, model.state(), host);
    const auto entries = [&menu] {
        QStringList titles;
        for (QAction *action : menu.actions())
            titles << (action->isSeparator() ? u"|"_s : action->text());
        return titles;
    };
    const auto trigger = [&menu](const QString &title) {
        for (QAction *action : menu.actions()) {
            if (action->text() == title)
                return action->trigger(), true;
        }
        return false;
    };

    QCOMPARE(entries(), (QStringList{u"Open Tornel"_s, u"Log In to Tornel"_s, u"|"_s, u"Quit Tornel"_s}));
    QVERIFY(trigger(u"Log In to Tornel"_s));
    QVERIFY(host.panel().showingLogin());
    QTRY_VERIFY(host.isVisible());
    host.hide();

    QVERIFY(model.apply(ModelDriver::record(u"syncing"_s)));
    QTRY_COMPARE(entries(), (QStringList{u"Open Tornel"_s, u"Pause Syncing"_s, u"Open Sync Folder"_s, u"Log Out"_s,
                                         u"|"_s, u"Quit Tornel"_s}));
    QVERIFY(trigger(u"Pause Syncing"_s));
    QVERIFY(model.waitForCount(u"pause"_s, 1));
    QVERIFY(model.apply(ModelDriver::record(u"paused"_s)));
    QTRY_COMPARE(entries().at(1), u"Resume Syncing"_s);
    QVERIFY(model.apply(ModelDriver::record(u"error"_s)));
    QTRY_COMPARE(entries().at(1), u"Retry Sync"_s);
    QVERIFY(trigger(u"Log Out"_s));
    QVERIFY(model.waitForCount(u"logout"_s, 1));
    QVERIFY(!host.isVisible());
    QVERIFY(trigger(u"Open Tornel"_s));
    QTRY_VERIFY(host.isVisible());
}

QTEST_MAIN(TestPopover)
#include "test_popover.moc"
