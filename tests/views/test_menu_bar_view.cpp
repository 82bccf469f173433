#include "model_driver.h"

#include "daemon/daemon_manager.h"
#include "views/command_section.h"
#include "views/controls/elided_wrapped_label.h"
#include "views/login_view.h"
#include "views/menu_bar_view.h"
#include "views/controls/pulse_modifier.h"
#include "views/status_section.h"
#include "views/controls/painted_button.h"
#include "views/controls/symbol_view.h"

#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QLayout>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>

using namespace Qt::StringLiterals;

// Receives what the panel asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

class TestMenuBarView : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startsLoggedOut();
    void rowsForEachStatus_data();
    void rowsForEachStatus();
    void pendingRow_data();
    void pendingRow();
    void errorLine();
    void lastSyncLine();
    void accountRow();

    void commandsReachTheDaemon_data();
    void commandsReachTheDaemon();
    void rowsWorkFromTheKeyboard();
    void openSyncFolder_data();
    void openSyncFolder();
    void loginFormReplacesTheMainContent();
    void pulseFollowsTheStatus();
    void quitEndsTheEventLoop();

private:
    QWidget *visible(const QString &objectName) const;
    CommandRow *row(const QString &title) const;
    // The command section top to bottom: titles, "|" for a divider and
    // "account:<text>" for the account row.
    QStringList commandSection() const;
    SymbolView *statusIcon() const { return m_panel->findChild<SymbolView *>(u"statusIcon"_s); }

    std::unique_ptr<ModelDriver> m_model;
    std::unique_ptr<DaemonManager> m_daemonManager;
    std::unique_ptr<MenuBarView> m_panel;
};

void TestMenuBarView::init()
{
    m_model = std::make_unique<ModelDriver>();
    m_daemonManager = std::make_unique<DaemonManager>();
    m_panel = std::make_unique<MenuBarView>(m_model->state(), *m_daemonManager);
    m_panel->show();
}

void TestMenuBarView::cleanup()
{
    m_panel.reset();
    m_daemonManager.reset();
    m_model.reset();
}

QWidget *TestMenuBarView::visible(const QString &objectName) const
{
    QWidget *widget = m_panel->findChild<QWidget *>(objectName);
    return widget && widget->isVisibleTo(m_panel.get()) ? widget : nullptr;
}

CommandRow *TestMenuBarView::row(const QString &title) const
{
    for (CommandRow *candidate : m_panel->findChildren<CommandRow *>()) {
        if (candidate->text() == title && candidate->isVisibleTo(m_panel.get()))
            return candidate;
    }
    return nullptr;
}

QStringList TestMenuBarView::commandSection() const
{
    QStringList items;
    if (!m_panel->commandSection())
        return items;
    QLayout *column = m_panel->commandSection()->layout();
    for (int i = 0; i < column->count(); ++i) {
        QWidget *widget = column->itemAt(i)->widget();
        if (!widget || !widget->isVisibleTo(m_panel.get()))
            continue;
        if (auto *command = qobject_cast<CommandRow *>(widget))
            items << command->text();
        else if (qobject_cast<Divider *>(widget))
            items << u"|"_s;
        else if (widget->objectName() == u"accountRow")
            items << u"account:"_s + widget->findChild<QLabel *>(u"accountEmail"_s)->text();
        else
            items << u"?"_s;
    }
    return items;
}

void TestMenuBarView::startsLoggedOut()
{
    QCOMPARE(statusIcon()->symbolName(), u"person.crop.circle"_s);
    QCOMPARE(statusIcon()->color(), NamedColor::gray);
    QCOMPARE(m_panel->findChild<QLabel *>(u"statusText"_s)->text(), u"Not logged in"_s);
    QVERIFY(!visible(u"lastSyncLine"_s));
    QVERIFY(!visible(u"pendingRow"_s));
    QVERIFY(!visible(u"errorLine"_s));
    QCOMPARE(commandSection(), (QStringList{u"Log In to Tornel"_s, u"|"_s, u"Quit Tornel"_s}));
}

void TestMenuBarView::rowsForEachStatus_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("symbol");
    QTest::addColumn<NamedColor>("color");
    QTest::addColumn<QStringList>("rows");
    const QStringList tail{u"Open Sync Folder"_s, u"|"_s, u"account:me@example.com"_s, u"Log Out"_s, u"|"_s,
                           u"Quit Tornel"_s};
    QTest::newRow("syncing") << u"syncing"_s << u"arrow.triangle.2.circlepath"_s << NamedColor::blue
                             << QStringList{u"Pause Syncing"_s} + tail;
    QTest::newRow("synced") << u"synced"_s << u"checkmark.circle.fill"_s << NamedColor::green
                            << QStringList{u"Pause Syncing"_s} + tail;
    QTest::newRow("paused") << u"paused"_s << u"pause.circle.fill"_s << NamedColor::yellow
                            << QStringList{u"Resume Syncing"_s} + tail;
    QTest::newRow("error") << u"error"_s << u"exclamationmark.triangle.fill"_s << NamedColor::red
                           << QStringList{u"Retry Sync"_s} + tail;
    QTest::newRow("logged out") << u"logged_out"_s << u"person.crop.circle"_s << NamedColor::gray
                                << QStringList{u"Log In to Tornel"_s, u"|"_s, u"Quit Tornel"_s};
}

void TestMenuBarView::rowsForEachStatus()
{
    QFETCH(QString, state);
    QFETCH(QString, symbol);
    QFETCH(NamedColor, color);
    QFETCH(QStringList, rows);
    // Start elsewhere, so the rows are rebuilt for the state under test.
    QVERIFY(m_model->apply(ModelDriver::record(state == u"paused" ? u"synced"_s : u"paused"_s)));
    QVERIFY(m_model->apply(ModelDriver::record(state, {{u"userEmail"_s, u"me@example.com"_s}})));
    QCOMPARE(commandSection(), rows);
    QCOMPARE(statusIcon()->symbolName(), symbol);
    QCOMPARE(statusIcon()->color(), color);
    QCOMPARE(m_panel->findChild<QLabel *>(u"statusText"_s)->text(), m_model->state().statusText());
    // A status change leaves exactly one set of rows behind.
    const qsizetype commands = std::count_if(rows.begin(), rows.end(), [](const QString &item) {
        return item != u"|" && !item.startsWith(u"account:");
    });
    QCOMPARE(m_panel->findChildren<CommandRow *>().size(), commands);
}

void TestMenuBarView::pendingRow_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<int>("uploads");
    QTest::addColumn<int>("downloads");
    QTest::addColumn<QString>("shown"); // "" for no row; else the labels, uploads first
    QTest::newRow("uploads only") << u"syncing"_s << 3 << 0 << u"up 3"_s;
    QTest::newRow("both") << u"syncing"_s << 2 << 5 << u"up 2, down 5"_s;
    QTest::newRow("none") << u"syncing"_s << 0 << 0 << QString();
    QTest::newRow("negative count") << u"syncing"_s << -4 << 1 << u"down 1"_s;
    QTest::newRow("no grouping") << u"syncing"_s << 1234567 << 0 << u"up 1234567"_s;
    QTest::newRow("synced with counts") << u"synced"_s << 4 << 4 << QString();
}

void TestMenuBarView::pendingRow()
{
    QFETCH(QString, state);
    QFETCH(int, uploads);
    QFETCH(int, downloads);
    QFETCH(QString, shown);
    QVERIFY(m_model->apply(ModelDriver::record(state, {{u"pendingUploads"_s, uploads}, {u"pendingDownloads"_s, downloads}})));

    QWidget *pending = visible(u"pendingRow"_s);
    QCOMPARE(pending != nullptr, !shown.isEmpty());
    if (!pending)
        return;
    QStringList labels;
    QLayout *row = pending->layout();
    for (int i = 0; i < row->count(); ++i) {
        QWidget *label = row->itemAt(i)->widget();
        if (!label || !label->isVisibleTo(pending))
            continue;
        const bool up = label->objectName() == u"uploads";
        auto *symbol = label->findChild<SymbolView *>();
        QCOMPARE(symbol->symbolName(), up ? u"arrow.up.circle"_s : u"arrow.down.circle"_s);
        QCOMPARE(symbol->color(), up ? NamedColor::blue : NamedColor::green);
        labels << (up ? u"up "_s : u"down "_s) + label->findChild<QLabel *>()->text();
    }
    QCOMPARE(labels.join(u", "_s), shown);
}

void TestMenuBarView::errorLine()
{
    QVERIFY(m_model->apply(ModelDriver::record(u"error"_s)));
    QVERIFY(!visible(u"errorLine"_s));
    QCOMPARE(commandSection().first(), u"Retry Sync"_s);

    QVERIFY(m_model->apply(ModelDriver::record(u"error"_s, {{u"errorMessage"_s, u""_s}})));
    QVERIFY(visible(u"errorLine"_s));
    QCOMPARE(m_panel->findChild<QLabel *>(u"errorLine"_s)->text(), QString());

    const QString longMessage = u"Disk full while writing "_s + u"a-rather-long-file-name.dat "_s.repeated(12);
    QVERIFY(m_model->apply(ModelDriver::record(u"error"_s, {{u"errorMessage"_s, longMessage}})));
    auto *line = qobject_cast<ElidedWrappedLabel *>(visible(u"errorLine"_s));
    QVERIFY(line);
    QCOMPARE(line->text(), longMessage);
    const QStringList lines = line->visibleLines(line->contentsRect().width());
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines.last().endsWith(QChar(0x2026)), qPrintable(lines.last()));
    QTRY_COMPARE(line->height(), line->heightForWidth(line->width()));

    // The message belongs to the error status only.
    QVERIFY(m_model->apply(ModelDriver::record(u"synced"_s, {{u"errorMessage"_s, u"stale"_s}})));
    QVERIFY(!visible(u"errorLine"_s));
}

void TestMenuBarView::lastSyncLine()
{
    m_model->state().setWallClock([] { return QDateTime(QDate(2024, 5, 1), QTime(10, 5), Qt::UTC); });
    QVERIFY(m_model->apply(ModelDriver::record(u"synced"_s)));
    QVERIFY(!visible(u"lastSyncLine"_s));

    QVERIFY(m_model->apply(ModelDriver::record(u"synced"_s, {{u"lastSync"_s, u"2024-05-01T10:00:00Z"_s}})));
    QVERIFY(visible(u"lastSyncLine"_s));
    QVERIFY(!m_model->state().lastSyncText().isEmpty());
    QCOMPARE(m_panel->findChild<QLabel *>(u"lastSyncLine"_s)->text(), m_model->state().lastSyncText());

    // Logged out hides it although the model still has a time.
    QVERIFY(m_model->apply(ModelDriver::record(u"logged_out"_s)));
    QVERIFY(!m_model->state().lastSyncText().isEmpty());
    QVERIFY(!visible(u"lastSyncLine"_s));
}

void TestMenuBarView::accountRow()
{
    const QStringList withoutAccount{u"Pause Syncing"_s, u"Open Sync Folder"_s, u"|"_s, u"Log Out"_s, u"|"_s,
                                     u"Quit Tornel"_s};
    QVERIFY(m_model->apply(ModelDriver::record(u"synced"_s)));
    QCOMPARE(commandSection(), withoutAccount);

    QVERIFY(m_model->apply(ModelDriver::record(u"synced"_s, {{u"userEmail"_s, u""_s}})));
    QCOMPARE(commandSection().at(3), u"account:"_s);

    QVERIFY(m_model->apply(ModelDriver::record(u"synced"_s, {{u"userEmail"_s, u"a@b.example"_s}})));
    QCOMPARE(commandSection().at(3), u"account:a@b.example"_s);
    QVERIFY(!qobject_cast<QAbstractButton *>(visible(u"accountRow"_s)));
}

void TestMenuBarView::commandsReachTheDaemon_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("method");
    QTest::newRow("pause") << u"syncing"_s << u"Pause Syncing"_s << u"pause"_s;
    QTest::newRow("resume") << u"paused"_s << u"Resume Syncing"_s << u"resume"_s;
    QTest::newRow("retry") << u"error"_s << u"Retry Sync"_s << u"resume"_s;
    QTest::newRow("log out") << u"synced"_s << u"Log Out"_s << u"logout"_s;
}

void TestMenuBarView::commandsReachTheDaemon()
{
    QFETCH(QString, state);
    QFETCH(QString, title);
    QFETCH(QString, method);
    QVERIFY(m_model->apply(ModelDriver::record(state)));
    CommandRow *command = row(title);
    QVERIFY(command);
    // Far right of the title, in the row's flexible space.
    const QRect label = command->labelRect();
    QVERIFY(label.right() - 2 > command->fontMetrics().horizontalAdvance(title) + 60);
    QTest::mouseClick(command, Qt::LeftButton, {}, QPoint(label.right() - 2, label.center().y()));
    QVERIFY(m_model->waitForCount(method, 1));
    for (const QString &other : {u"pause"_s, u"resume"_s, u"logout"_s, u"login"_s}) {
        if (other != method)
            QCOMPARE(m_model->count(other), 0);
    }
}

void TestMenuBarView::rowsWorkFromTheKeyboard()
{
    QVERIFY(m_model->apply(ModelDriver::record(u"synced"_s)));
    CommandRow *pause = row(u"Pause Syncing"_s);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(pause);
    QCOMPARE(accessible->text(QAccessible::Name), u"Pause Syncing"_s);
    QCOMPARE(accessible->role(), QAccessible::Button);

    m_panel->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_panel.get()));
    // The first command takes focus when the window opens; Tab moves on.
    QCOMPARE(QApplication::focusWidget(), pause);
    QTest::keyClick(m_panel.get(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), row(u"Open Sync Folder"_s));
    QTest::keyClick(m_panel.get(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), pause);

    QSignalSpy clicks(pause, &CommandRow::clicked);
    QTest::keyClick(pause, Qt::Key_Return);
    QTest::keyClick(pause, Qt::Key_Space);
    QTest::keyClick(pause, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(clicks.size(), 3);
    QTest::keyClick(pause, Qt::Key_Return, Qt::ControlModifier);
    QTest::keyClick(pause, Qt::Key_A);
    QCOMPARE(clicks.size(), 3);
    QVERIFY(m_model->waitForCount(u"pause"_s, 3));
}

void TestMenuBarView::openSyncFolder_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("opened"); // $HOME stands for the home directory
    QTest::newRow("default") << u"~/Tornel"_s << u"$HOME/Tornel"_s;
    QTest::newRow("tilde alone") << u"~"_s << u"$HOME"_s;
    QTest::newRow("tilde inside a name") << u"/data/backup~1"_s << u"/data/backup~1"_s;
    QTest::newRow("tilde before a name") << u"~bob/files"_s << u"~bob/files"_s;
}

void TestMenuBarView::openSyncFolder()
{
    QFETCH(QString, folder);
    QFETCH(QString, opened);
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(u"file"_s, &catcher, "open");
    QVERIFY(m_model->apply(ModelDriver::record(u"synced"_s, {{u"syncFolder"_s, folder}})));
    QTest::mouseClick(row(u"Open Sync Folder"_s), Qt::LeftButton);
    QDesktopServices::unsetUrlHandler(u"file"_s);
    QCOMPARE(catcher.urls, QList<QUrl>{QUrl::fromLocalFile(opened.replace(u"$HOME"_s, m_model->home()))});
}

void TestMenuBarView::loginFormReplacesTheMainContent()
{
    QTest::mouseClick(row(u"Log In to Tornel"_s), Qt::LeftButton);
    QVERIFY(m_panel->showingLogin());
    QVERIFY(m_panel->loginView());
    // Under the same header, with no command rows of its own.
    QTRY_VERIFY(m_panel->findChildren<CommandRow *>().isEmpty());

    // A change of status does not leave the form.
    QVERIFY(m_model->apply(ModelDriver::record(u"synced"_s)));
    QVERIFY(m_panel->showingLogin());

    auto *email = m_panel->loginView()->findChild<QLineEdit *>(u"emailField"_s);
    QTest::keyClicks(email, u"typed@example.com"_s);
    QTest::mouseClick(m_panel->loginView()->findChild<SymbolButton *>(u"backButton"_s), Qt::LeftButton);
    QVERIFY(!m_panel->showingLogin());
    QCOMPARE(commandSection().first(), u"Pause Syncing"_s);
    QTRY_VERIFY(m_panel->findChildren<LoginView *>().isEmpty());

    // Opened again, the form starts afresh.
    QVERIFY(m_model->apply(ModelDriver::record(u"logged_out"_s)));
    QTest::mouseClick(row(u"Log In to Tornel"_s), Qt::LeftButton);
    QCOMPARE(m_panel->loginView()->findChild<QLineEdit *>(u"emailField"_s)->text(), QString());
}

void TestMenuBarView::pulseFollowsTheStatus()
{
    QVERIFY(m_model->apply(ModelDriver::record(u"syncing"_s)));
    PulseModifier *pulse = m_panel->statusSection()->pulse();
    QVERIFY(pulse->isPulsing());
    QTRY_VERIFY(pulse->opacity() < 0.9);

    QVERIFY(m_model->apply(ModelDriver::record(u"synced"_s)));
    QVERIFY(!pulse->isPulsing());
    QTRY_COMPARE(pulse->opacity(), 1.0);

    // Back to syncing without reopening anything.
    QVERIFY(m_model->apply(ModelDriver::record(u"syncing"_s)));
    QVERIFY(pulse->isPulsing());
    QTRY_VERIFY(pulse->opacity() < 0.9);

    // The main content is built anew after the login form: a new pulse.
    m_panel->setShowingLogin(true);
    m_panel->setShowingLogin(false);
    QVERIFY(m_panel->statusSection()->pulse() != pulse);
    QVERIFY(m_panel->statusSection()->pulse()->isPulsing());
}

void TestMenuBarView::quitEndsTheEventLoop()
{
    QTimer::singleShot(0, this, [this] { QTest::mouseClick(row(u"Quit Tornel"_s), Qt::LeftButton); });
    QTimer::singleShot(10000, this, [] { QCoreApplication::exit(1); });
    QCOMPARE(QCoreApplication::exec(), 0);
}

QTEST_MAIN(TestMenuBarView)
#include "test_menu_bar_view.moc"
