#include "model_driver.h"

#include "daemon/daemon_manager.h"
#include "tray/popover_host.h"
#include "tray/tray_menu.h"
#include "views/login_view.h"
#include "views/menu_bar_view.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

class TestPopover : public QObject {
    Q_OBJECT

private slots:
    void placement_data()
    {
        QTest::addColumn<QRect>("trayIcon"); // empty: not known, placed at the pointer
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QPoint>("expected"); // the panel's top left corner
        const QRect top(0, 28, 1920, 1052), bottom(0, 0, 1920, 1040);
        QTest::newRow("under the icon, right edge") << QRect(1850, 2, 24, 24) << QPoint() << top << QPoint(1600, 28);
        QTest::newRow("above the icon, left edge") << QRect(100, 1050, 24, 24) << QPoint() << bottom << QPoint(0, 640);
        QTest::newRow("at the pointer, top") << QRect() << QPoint(500, 10) << top << QPoint(340, 28);
        QTest::newRow("at the pointer, bottom") << QRect() << QPoint(500, 1075) << bottom << QPoint(340, 640);
        QTest::newRow("second screen") << QRect() << QPoint(3190, 5) << QRect(1920, 0, 1280, 1024) << QPoint(2880, 6);
    }

    void placement()
    {
        QFETCH(QRect, trayIcon);
        QFETCH(QPoint, pointer);
        QFETCH(QRect, available);
        QFETCH(QPoint, expected);
        QCOMPARE(popoverGeometry(QSize(320, 400), trayIcon, pointer, available), QRect(expected, QSize(320, 400)));
    }

    void hostKeepsItsPanelAcrossOpenings()
    {
        ModelDriver model;
        DaemonManager daemonManager;
        std::chrono::steady_clock::time_point now{100s};
        PopoverHost host(model.state(), daemonManager, [&now] { return now; });
        host.toggle();
        QVERIFY(host.isVisible());
        host.panel().setShowingLogin(true);
        QTest::keyClicks(host.panel().loginView()->findChild<QLineEdit *>(u"emailField"_s), u"me@example.com"_s);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!host.isVisible());
        host.toggle();
        QVERIFY(!host.isVisible()); // the same click that closed it
        now += 1s;
        host.toggle();
        QVERIFY(host.isVisible());
        host.toggle();
        host.open(); // asked for, as by the tray menu: the debounce does not apply
        QVERIFY(host.isVisible());
        QCOMPARE(host.panel().loginView()->findChild<QLineEdit *>(u"emailField"_s)->text(), u"me@example.com"_s);
    }

    void trayMenuFollowsTheStatus()
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
            return titles.join(u", "_s);
        };
        // Each entry is triggered after the list says which it is.
        QCOMPARE(entries(), u"Open Tornel, Log In to Tornel, |, Quit Tornel"_s);
        menu.actions().at(1)->trigger();
        QVERIFY(host.panel().showingLogin());
        QTRY_VERIFY(host.isVisible());
        host.hide();
        QVERIFY(model.apply(ModelDriver::record(u"paused"_s)));
        QTRY_COMPARE(entries(), u"Open Tornel, Resume Syncing, Open Sync Folder, Log Out, |, Quit Tornel"_s);
        QVERIFY(model.apply(ModelDriver::record(u"syncing"_s)));
        QTRY_COMPARE(entries(), u"Open Tornel, Pause Syncing, Open Sync Folder, Log Out, |, Quit Tornel"_s);
        menu.actions().at(1)->trigger();
        QTRY_COMPARE(model.calls(), QStringList{u"pause"_s});
        menu.actions().at(3)->trigger();
        QTRY_COMPARE(model.calls(), (QStringList{u"pause"_s, u"logout"_s}));
        QVERIFY(!host.isVisible());
        menu.actions().at(0)->trigger();
        QTRY_VERIFY(host.isVisible());
    }
};

QTEST_MAIN(TestPopover)
#include "test_popover.moc"
