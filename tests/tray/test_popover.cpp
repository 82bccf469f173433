#include "model_driver.h"

#include "daemon/daemon_log.h"
#include "daemon/daemon_manager.h"
#include "tray/autostart_files.h"
#include "tray/popover_host.h"
#include "tray/popover_placement.h"
#include "tray/status_item_style.h"
#include "tray/tray_menu.h"
#include "views/login_view.h"
#include "views/menu_bar_view.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QXmlStreamReader>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// The tray menu on a model fed by a scripted daemon, with its panel.
struct TrayMenuRig {
    ModelDriver model;
    DaemonManager daemonManager;
    PopoverHost host{model.state(), daemonManager};
    QMenu menu;
    TrayMenu trayMenu{menu, model.state(), daemonManager, host};
};

} // namespace

class TestPopover : public QObject {
    Q_OBJECT

private slots:
    void placement_data()
    {
        QTest::addColumn<QRect>("anchor"); // empty: none seen, the edge of `screen` that `available` leaves
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QPoint>("expected"); // the panel's top left corner
        const QRect screen(0, 0, 1920, 1080), top(0, 28, 1920, 1052), bottom(0, 0, 1920, 1040);
        QTest::newRow("under the icon, right edge") << QRect(1850, 2, 24, 24) << screen << top << QPoint(1600, 28);
        QTest::newRow("above the icon, left edge") << QRect(100, 1050, 24, 24) << screen << bottom << QPoint(0, 640);
        QTest::newRow("a click, bottom") << QRect(500, 1075, 1, 1) << screen << bottom << QPoint(340, 640);
        QTest::newRow("a click, second screen") << QRect(3190, 5, 1, 1) << screen << QRect(1920, 0, 1280, 1024) << QPoint(2880, 6);
        // A panel that takes no space: the direction shows, no clamp hides it.
        QTest::newRow("icon in the free area, upper half") << QRect(1850, 40, 24, 24) << screen << screen << QPoint(1600, 64);
        QTest::newRow("icon in the free area, lower half") << QRect(100, 1000, 24, 24) << screen << screen << QPoint(0, 600);
        QTest::newRow("none seen: top panel") << QRect() << screen << QRect(0, 32, 1920, 1048) << QPoint(1600, 32);
        QTest::newRow("none seen: bottom panel") << QRect() << screen << QRect(0, 0, 1920, 1036) << QPoint(1600, 636);
        QTest::newRow("none seen: left panel") << QRect() << screen << QRect(48, 0, 1872, 1080) << QPoint(48, 679);
        QTest::newRow("none seen: no panel") << QRect() << screen << screen << QPoint(1600, 0);
    }

    void placement()
    {
        QFETCH(QRect, anchor);
        QFETCH(QRect, screen);
        QFETCH(QRect, available);
        QFETCH(QPoint, expected);
        const QRect at = anchor.isEmpty() ? edgeAnchor(screen, available) : anchor;
        QCOMPARE(popoverGeometry(QSize(320, 400), at, available), QRect(expected, QSize(320, 400)));
    }

    // Seen at a click, the icon is where every later opening hangs from, never
    // the pointer; before any click, the far end of the screen's top edge
    // (the offscreen screen has no panel).
    void openingsHangFromTheIconLastSeen()
    {
        ModelDriver model;
        DaemonManager daemonManager;
        std::chrono::steady_clock::time_point now{100s};
        PopoverHost host(model.state(), daemonManager, [&now] { return now; });
        QRect trayIcon;
        host.setTrayIconGeometrySource([&trayIcon] { return trayIcon; });
        QSignalSpy shown(&host, &PopoverHost::shownAtIcon);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCursor::setPos(screen.center());
        host.open();
        QCOMPARE(host.geometry().topRight(), QPoint(screen.right(), screen.top()));
        host.hide();
        now += 1s;
        QCursor::setPos(100, screen.bottom() - 2);
        host.toggle();
        QCOMPARE(host.geometry().topLeft(), QPoint(0, screen.bottom() - 402));
        host.hide();
        QCursor::setPos(screen.center());
        host.open();
        QCOMPARE(host.geometry().topLeft(), QPoint(0, screen.bottom() - 402));
        QCOMPARE(shown, (QList<QVariantList>{{false}, {true}, {false}}));
    }

    // GNOME's extension sends a second click in a row as a double click.
    void doubleClickIsAClick()
    {
        QCOMPARE(clickAction(QSystemTrayIcon::DoubleClick, StatusItemStyle{}), ClickAction::togglePanel);
    }

    void hostKeepsItsPanelAcrossOpenings_data()
    {
        QTest::addColumn<bool>("windowed");
        QTest::newRow("popup under the icon") << false;
        QTest::newRow("window, without a tray") << true;
    }

    void hostKeepsItsPanelAcrossOpenings()
    {
        QFETCH(bool, windowed);
        ModelDriver model;
        DaemonManager daemonManager;
        std::chrono::steady_clock::time_point now{100s};
        PopoverHost host(model.state(), daemonManager, [&now] { return now; });
        host.setWindowed(windowed);
        host.toggle();
        const MenuBarView *shown = host.findChild<MenuBarView *>();
        QVERIFY(host.isVisible() && shown && shown->isVisible());
        host.panel().setShowingLogin(true);
        QLineEdit *email = host.panel().loginView()->findChild<QLineEdit *>(u"emailField"_s);
        QTest::keyClicks(email, u"me@example.com"_s);
        QTest::keyClick(email, Qt::Key_Escape);
        QVERIFY(!host.isVisible());
        host.toggle();
        QVERIFY(!host.isVisible()); // the same click that closed it
        now += 1s;
        host.toggle();
        QVERIFY(host.isVisible());
        host.toggle();
        host.open(); // asked for, as by the tray menu: the debounce does not apply
        QVERIFY(host.isVisible());
        QCOMPARE(email->text(), u"me@example.com"_s);
    }

    void trayMenuFollowsTheStatus()
    {
        TrayMenuRig rig;
        QMenu &menu = rig.menu;
        const auto entries = [&menu] {
            QStringList titles;
            for (QAction *action : menu.actions())
                titles << (action->isSeparator() ? u"|"_s : action->text());
            return titles.join(u", "_s);
        };
        // Each entry is triggered after the list says which it is.
        QCOMPARE(entries(), u"Open Tornel, Log In to Tornel, |, Start at Login, Show Log, Quit Tornel"_s);
        menu.actions().at(1)->trigger();
        QVERIFY(rig.host.panel().showingLogin());
        QTRY_VERIFY(rig.host.isVisible());
        rig.host.hide();
        QVERIFY(rig.model.apply(ModelDriver::record(u"paused"_s)));
        QTRY_COMPARE(entries(), u"Open Tornel, Resume Syncing, Open Sync Folder, Log Out, |, Start at Login, Show Log, Quit Tornel"_s);
        QVERIFY(rig.model.apply(ModelDriver::record(u"syncing"_s)));
        QTRY_COMPARE(entries(), u"Open Tornel, Pause Syncing, Pause for 1 Hour, Pause Until Tomorrow, Open Sync Folder, Log Out, |, Start at Login, Show Log, Quit Tornel"_s);
        menu.actions().at(1)->trigger();
        QTRY_COMPARE(rig.model.calls(), QStringList{u"pause"_s});
        menu.actions().at(5)->trigger();
        QTRY_COMPARE(rig.model.calls(), (QStringList{u"pause"_s, u"logout"_s}));
        QVERIFY(!rig.host.isVisible());
        menu.actions().at(0)->trigger();
        QTRY_VERIFY(rig.host.isVisible());
    }

    // "Show Log" opens the daemon's log with the desktop's viewer, once there is one.
    void showLogOpensTheDaemonsLog()
    {
        TrayMenuRig rig;
        QMenu &menu = rig.menu;
        QAction *showLog = menu.actions().at(menu.actions().size() - 2);
        QCOMPARE(showLog->text(), u"Show Log"_s);
        emit menu.aboutToShow();
        QVERIFY(!showLog->isEnabled());

        const QString path = DaemonLog::defaultPath();
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()) && QFile(path).open(QIODevice::WriteOnly));
        emit menu.aboutToShow();
        QVERIFY(showLog->isEnabled());
        QDesktopServices::setUrlHandler(u"file"_s, this, "openUrl");
        showLog->trigger();
        QDesktopServices::unsetUrlHandler(u"file"_s);
        QCOMPARE(m_opened, QUrl::fromLocalFile(path));
    }

    void startAtLogin()
    {
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        QGuiApplication::setDesktopFileName(u"org.tornel.Tornel"_s);
        TrayMenuRig rig;
        QMenu &menu = rig.menu;
        QAction *entry = menu.actions().at(menu.actions().size() - 3);
        QFile file(config.filePath(u"autostart/org.tornel.Tornel.desktop"_s));
        QVERIFY(entry->isCheckable() && !entry->isChecked());

        entry->trigger();
        QVERIFY(entry->isChecked() && file.open(QIODevice::ReadOnly));
        const QByteArray written = file.readAll();
        file.close();
        QVERIFY(written.contains("\nExec=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\"\n"));
        QVERIFY(written.contains("\nIcon=org.tornel.Tornel\n"));
        QProcess validator;
        validator.start(u"desktop-file-validate"_s, {file.fileName()});
        if (validator.waitForFinished())
            QCOMPARE(validator.readAll() + QByteArray::number(validator.exitCode()), QByteArray("0"));

        // Switched off elsewhere: shown unchecked when the menu opens.
        QVERIFY(file.open(QIODevice::Append) && file.write("Hidden=true\n") > 0);
        file.close();
        emit menu.aboutToShow();
        QVERIFY(!entry->isChecked());
        entry->trigger();
        QVERIFY(entry->isChecked() && file.size() == written.size());
        entry->trigger();
        QVERIFY(!entry->isChecked());
        QVERIFY(!file.exists());
        QCOMPARE(entry->toolTip(), entry->text()); // no failure to show

        // A failure shows on the entry, which stays unchecked.
        QVERIFY(QDir(config.path()).rmdir(u"autostart"_s) && QFile(config.filePath(u"autostart"_s)).open(QIODevice::WriteOnly));
        entry->trigger();
        QVERIFY(!entry->isChecked());
        QVERIFY(entry->toolTip().contains(u"autostart"_s));
    }

    // The LaunchAgent that starts Tornel at login on macOS, as launchd reads
    // it: a program path with XML's reserved characters comes through whole.
    void launchAgentWrittenAndRemoved()
    {
        QTemporaryDir home;
        const QString path = home.filePath(u"Library/LaunchAgents/org.tornel.Tornel.plist"_s);
        const QString program = u"/Applications/A & <B>.app/Contents/MacOS/tornel"_s;
        QCOMPARE(AutostartFiles::write(path, AutostartFiles::launchAgent(u"org.tornel.Tornel"_s, program)), std::nullopt);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QXmlStreamReader plist(&file);
        QStringList read;
        while (!plist.atEnd()) {
            plist.readNext();
            if (plist.isStartElement())
                read << u'<' + plist.name().toString() + u'>';
            else if (plist.isCharacters() && !plist.isWhitespace())
                read << plist.text().toString();
        }
        QVERIFY2(!plist.hasError(), qPrintable(plist.errorString()));
        QCOMPARE(read, (QStringList{u"<plist>"_s, u"<dict>"_s, u"<key>"_s, u"Label"_s, u"<string>"_s, u"org.tornel.Tornel"_s,
                                    u"<key>"_s, u"ProgramArguments"_s, u"<array>"_s, u"<string>"_s, program,
                                    u"<key>"_s, u"RunAtLoad"_s, u"<true>"_s, u"<key>"_s, u"ProcessType"_s,
                                    u"<string>"_s, u"Interactive"_s}));
        file.close();

        QCOMPARE(AutostartFiles::remove(path), std::nullopt);
        QVERIFY(!file.exists());
        QCOMPARE(AutostartFiles::remove(path), std::nullopt);
        // A folder that cannot be made is said.
        QVERIFY(QFile(home.filePath(u"blocked"_s)).open(QIODevice::WriteOnly));
        QVERIFY(AutostartFiles::write(home.filePath(u"blocked/a.plist"_s), "a").value_or(QString()).contains(u"blocked"_s));
    }

    // "%A" and "%B" stand for two folders that each hold a program named tornel. As
    // written in the file: the string escapes double each backslash of the quoting.
    void execLine_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("exec"); // empty: refused
        QTest::newRow("installed: PATH finds this program") << u"%A/tornel"_s << u"/nowhere:%A"_s << u"tornel"_s;
        QTest::newRow("PATH finds another first") << u"%A/tornel"_s << u"%B:%A"_s << u"\"%A/tornel\""_s;
        QTest::newRow("reserved characters")
            << u"/b$ld/a\"b`c\\d e"_s << u"/bin"_s << u"\"/b\\\\$ld/a\\\\\"b\\\\`c\\\\\\\\d e\""_s;
        QTest::newRow("a field code's sign") << u"/opt/100%f/tornel"_s << u"/bin"_s << u"\"/opt/100%%f/tornel\""_s;
        QTest::newRow("a line feed, refused") << u"/opt/x\nExec=evil/tornel"_s << u"/bin"_s << QString();
        QTest::newRow("a tab, refused") << u"/opt/x\ty/tornel"_s << u"/bin"_s << QString();
    }

    void execLine()
    {
        QFETCH(QString, program);
        QFETCH(QString, path);
        QFETCH(QString, exec);
        QTemporaryDir folders;
        for (const QString &folder : {u"A"_s, u"B"_s}) {
            QVERIFY(QDir(folders.path()).mkdir(folder));
            QFile tornel(folders.filePath(folder + u"/tornel"_s));
            QVERIFY(tornel.open(QIODevice::WriteOnly) && tornel.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        }
        const auto place = [&folders](QString text) {
            return text.replace(u"%A"_s, folders.filePath(u"A"_s)).replace(u"%B"_s, folders.filePath(u"B"_s));
        };
        QCOMPARE(AutostartFiles::execLine(place(program), place(path)).value_or(QString()), place(exec));
    }

    // An entry for a program in a folder with every reserved character in its
    // name is valid, and the desktop's launcher runs that very program; a link
    // at the entry's place is replaced, its target left alone.
    void desktopEntryRunsTheProgram()
    {
        QTemporaryDir home;
        // No "%": GLib looks for the program before it reads "%%" as "%".
        const QString folder = home.filePath(u"a \"b\" `c` $d \\e 'g' ;h&"_s);
        QVERIFY(QDir().mkpath(folder));
        const QString program = folder + u"/tornel"_s;
        QFile script(program);
        QVERIFY(script.open(QIODevice::WriteOnly) && script.write("#!/bin/sh\ntouch \"$0.ran\"\n") > 0);
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        script.close();

        const QString entry = home.filePath(u"autostart/org.tornel.Tornel.desktop"_s);
        const QString target = home.filePath(u"elsewhere"_s);
        QVERIFY(QFile(target).open(QIODevice::WriteOnly) && QDir().mkpath(home.filePath(u"autostart"_s)));
        QVERIFY(QFile::link(target, entry));
        const std::optional<QString> exec = AutostartFiles::execLine(program, u"/nowhere"_s);
        QVERIFY(exec);
        QCOMPARE(AutostartFiles::write(entry, AutostartFiles::desktopEntry(*exec, u"org.tornel.Tornel"_s)), std::nullopt);
        QVERIFY(!QFileInfo(entry).isSymLink() && QFileInfo(target).size() == 0);

        QProcess validator;
        validator.start(u"desktop-file-validate"_s, {entry});
        QVERIFY(validator.waitForFinished());
        QCOMPARE(validator.readAll() + QByteArray::number(validator.exitCode()), QByteArray("0"));
        QProcess launcher;
        launcher.start(u"gio"_s, {u"launch"_s, entry});
        QVERIFY(launcher.waitForFinished());
        QTRY_VERIFY2(QFile::exists(program + u".ran"_s), launcher.readAllStandardError().constData());
    }
public slots:
    void openUrl(const QUrl &url) { m_opened = url; }

private:
    QUrl m_opened;
};

QTEST_MAIN(TestPopover)
#include "test_popover.moc"
