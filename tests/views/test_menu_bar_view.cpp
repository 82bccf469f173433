// The panel and its login form, on a model fed by a scripted daemon. What the panel shows in
// each state is checked as one description of it; the other tests check what they do.
#include "model_driver.h"

#include "app/translations.h"
#include "daemon/daemon_manager.h"
#include "tray/popover_host.h"
#include "state/daemon_text.h"
#include "views/controls/elided_wrapped_label.h"
#include "views/controls/painted_button.h"
#include "views/controls/pulse_modifier.h"
#include "views/controls/symbol_view.h"
#include "views/login_view.h"
#include "views/menu_bar_view.h"
#include "views/status_section.h"

#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QLayout>
#include <QLineEdit>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>

using namespace Qt::StringLiterals;
using Reply = ScriptedDaemon::Reply;

namespace {

// What a layout shows, in reading order, one line per thing: "symbol <name> <colour>" (and
// "pulsing"), "text <text>" (and "[cut after N lines]" when elided, "[clipped]" when given less
// height than it needs), "row <title>" and "divider".
QStringList describe(const QLayout *layout, const QWidget *top)
{
    static const QStringList colours = u"primaryLabel secondaryLabel accent blue green yellow red gray"_s.split(u' ');
    QStringList lines;
    for (int i = 0; i < layout->count(); ++i) {
        QWidget *widget = layout->itemAt(i)->widget();
        if (!widget && layout->itemAt(i)->layout())
            lines += describe(layout->itemAt(i)->layout(), top);
        if (!widget || !widget->isVisibleTo(top))
            continue;
        auto *wrapped = qobject_cast<ElidedWrappedLabel *>(widget);
        if (auto *row = qobject_cast<CommandRow *>(widget))
            lines << u"row "_s + row->text();
        else if (qobject_cast<Divider *>(widget))
            lines << u"divider"_s;
        else if (auto *symbol = qobject_cast<SymbolView *>(widget))
            lines << u"symbol %1 %2"_s.arg(symbol->symbolName(), colours.value(int(symbol->color())));
        else if (auto *label = qobject_cast<QLabel *>(widget))
            lines << u"text "_s + label->text();
        else if (widget->layout())
            lines += describe(widget->layout(), top);
        else
            lines << u"unknown "_s + QString::fromLatin1(widget->metaObject()->className());
        const QStringList shown = wrapped ? wrapped->visibleLines(wrapped->contentsRect().width()) : QStringList();
        if (!shown.isEmpty() && shown.last().endsWith(QChar(0x2026)))
            lines.last() += u" [cut after %1 lines]"_s.arg(shown.size());
        if (wrapped && wrapped->height() < wrapped->heightForWidth(wrapped->width()))
            lines.last() += u" [clipped]"_s;
        const auto *pulse = widget->findChild<PulseModifier *>(QString(), Qt::FindDirectChildrenOnly);
        if (pulse && pulse->isPulsing())
            lines.last() += u" pulsing"_s;
    }
    return lines;
}

// What a screen reader hears, in order: "<event> <accessible name>" (" expanded": that state changed).
QStringList heard;
void hear(QAccessibleEvent *event)
{
    const auto *change = dynamic_cast<QAccessibleStateChangeEvent *>(event);
    const QString expanded = change && change->changedStates().expanded ? u" expanded"_s : QString();
    heard << u"%1 %2"_s.arg(QLatin1StringView(QMetaEnum::fromType<QAccessible::Event>().valueToKey(event->type())),
                            event->accessibleInterface()->text(QAccessible::Name) + expanded);
}

// How a screen reader sees a widget: "<role> <name>", then the states that matter here.
QString accessible(QObject *object)
{
    QAccessibleInterface *face = QAccessible::queryAccessibleInterface(object);
    const QAccessible::State state = face->state();
    QString seen = u"%1 %2"_s.arg(QLatin1StringView(QMetaEnum::fromType<QAccessible::Role>().valueToKey(face->role())),
                                  face->text(QAccessible::Name));
    const auto flag = [](bool set, const char *name) { return set ? u" "_s + QLatin1StringView(name) : QString(); };
    seen += flag(state.focused, "focused") + flag(state.busy, "busy") + flag(state.expandable, "expandable") +
            flag(state.expanded, "expanded") + flag(state.collapsed, "collapsed");
    const QString description = face->text(QAccessible::Description);
    return description.isEmpty() ? seen : seen + u" described as "_s + description;
}

// The panel on a model whose daemon answers as each test scripts it.
struct Panel {
    ModelDriver model;
    DaemonManager daemonManager;
    std::unique_ptr<MenuBarView> view = std::make_unique<MenuBarView>(model.state(), daemonManager);
    QStringList opened; // what it asked the desktop to open: "open <path>", $HOME for the home
};

} // namespace

class TestMenuBarView : public QObject {
    Q_OBJECT
    std::optional<Translations> m_english{std::in_place, QLocale(QLocale::English)};
    std::unique_ptr<Panel> m;

    CommandRow *row(const QString &title) const
    {
        for (CommandRow *candidate : m->view->findChildren<CommandRow *>())
            if (candidate->text() == title && candidate->isVisibleTo(m->view.get()))
                return candidate;
        return nullptr;
    }

    LoginView *form() const { return m->view->loginView(); }
    QLineEdit *field(const QString &name) const { return form()->findChild<QLineEdit *>(name + u"Field"_s); }
    ProminentButton *button() const { return form()->findChild<ProminentButton *>(); }
    QLabel *errorText() const { return form()->findChild<QLabel *>(u"loginError"_s); }
    bool errorShown() const { return form() && errorText()->isVisibleTo(form()); }

    // Opens the login form and fills it in; the daemon answers "login" with
    // `reply` after `delayMs`, and the status with a synced record.
    void fill(const QString &email, const QString &password, Reply reply, int delayMs = 0)
    {
        m->view->setShowingLogin(true);
        field(u"email"_s)->setText(email);
        field(u"password"_s)->setText(password);
        reply.delayMs = delayMs;
        m->model.daemon().setResponder([reply](const QJsonObject &request) {
            const bool login = request.value(u"method"_s).toString() == u"login";
            return login ? reply : Reply::result(ModelDriver::record(u"synced"_s));
        });
    }

public slots:
    void openUrl(const QUrl &url) { m->opened << u"open "_s + url.toLocalFile().replace(QDir::homePath(), u"$HOME"_s); }

private slots:
    void init()
    {
        m = std::make_unique<Panel>();
        m->view->resize(320, 400); // as in its popup
        m->view->show();
    }
    void cleanup() { m.reset(); }

    void describesEachState_data()
    {
        QTest::addColumn<QJsonObject>("record"); // empty: none applied
        QTest::addColumn<QString>("expected"); // the lines joined by "; "
        const auto record = &ModelDriver::record;
        // The command section after the status; the account row shows `email`, if any.
        const auto rows = [](const QString &first, const QString &email = u"me@example.com"_s) {
            const QString account
                = email.isNull() ? QString() : u"symbol person.circle secondaryLabel; text %1; "_s.arg(email);
            // The pause rows with an end follow the plain one.
            const QString timed = first == u"Pause Syncing"_s ? u"; row Pause for 1 Hour; row Pause Until Tomorrow"_s : QString();
            return u"; divider; row %1%3; row Open Sync Folder; divider; %2row Log Out; divider; row Quit Tornel"_s.arg(
                first, account, timed);
        };
        const QString loggedOut = u"symbol person.crop.circle gray; text Not logged in; divider; "
                                  u"row Log In to Tornel; divider; row Quit Tornel"_s;
        const QString syncing = u"symbol arrow.triangle.2.circlepath blue pulsing; text Syncing"_s;
        const QString up = u"; symbol arrow.up.circle blue; text "_s,
                      down = u"; symbol arrow.down.circle green; text "_s;
        const QString error = u"symbol exclamationmark.triangle.fill red; text "_s;
        const QString lastSync = u"2024-05-01T10:00:00Z"_s;
        const QString message
            = (u"Disk full while writing "_s + u"a-rather-long-file-name.dat "_s.repeated(12)).trimmed();

        QTest::newRow("at first") << QJsonObject() << loggedOut;
        QTest::newRow("logged out, last sync") << record(u"logged_out"_s, {{u"lastSync"_s, lastSync}}) << loggedOut;
        QTest::newRow("syncing, uploads only, negative downloads")
            << record(u"syncing"_s, {{u"pendingUploads"_s, 3}, {u"pendingDownloads"_s, -1}})
            << syncing + u" 2 files..."_s + up + u"3"_s + rows(u"Pause Syncing"_s);
        QTest::newRow("syncing, both, no grouping")
            << record(u"syncing"_s, {{u"pendingUploads"_s, 2}, {u"pendingDownloads"_s, 1234567}})
            << syncing + u" 1234569 files..."_s + up + u"2"_s + down + u"1234567"_s + rows(u"Pause Syncing"_s);
        QTest::newRow("syncing, none, no account") << record(u"syncing"_s, {{u"userEmail"_s, QJsonValue()}})
                                                   << syncing + u"..."_s + rows(u"Pause Syncing"_s, QString());
        QTest::newRow("synced: last sync, no counts, no stale error")
            << record(u"synced"_s, {{u"pendingUploads"_s, 4}, {u"errorMessage"_s, u"x"_s}, {u"lastSync"_s, lastSync}})
            << u"symbol checkmark.circle.fill green; text All files up to date; text Last synced 5 minutes ago"_s
                + rows(u"Pause Syncing"_s);
        QTest::newRow("paused, empty account")
            << record(u"paused"_s, {{u"userEmail"_s, u""_s}})
            << u"symbol pause.circle.fill yellow; text Sync paused"_s + rows(u"Resume Syncing"_s, u""_s);
        QTest::newRow("error") << record(u"error"_s, {}) << error + u"Sync error"_s + rows(u"Retry Sync"_s);
        // What the daemon says cannot reorder what is read, nor outgrow the panel.
        QTest::newRow("syncing, counts too long, e-mail with direction controls")
            << record(u"syncing"_s, {{u"pendingUploads"_s, qint64(999999999999999999)}, {u"pendingDownloads"_s, qint64(999999999999999999)},
                                     {u"userEmail"_s, u"user@\u202egro.elpmaxe\u202c"_s}})
            << syncing + u" 1999999999999999998 files..."_s + up + u"999999999999999999 [cut after 1 lines]"_s + down
                   + u"999999999999999999 [cut after 1 lines]"_s + rows(u"Pause Syncing"_s, u"user@gro.elpmaxe"_s);
        QTest::newRow("error, long message") // shown twice, 3 lines each at most
            << record(u"error"_s, {{u"errorMessage"_s, message}})
            << error + u"%1 [cut after 3 lines]; text %1 [cut after 3 lines]"_s.arg(message) + rows(u"Retry Sync"_s);
    }

    void describesEachState()
    {
        QFETCH(QJsonObject, record);
        QFETCH(QString, expected);
        if (!record.isEmpty())
            QVERIFY(m->model.apply(record));
        QCOMPARE(describe(m->view->statusSection()->parentWidget()->layout(), m->view.get()).join(u"; "_s), expected);
    }

    void commandsReachTheDaemonAndTheDesktop_data()
    {
        QTest::addColumn<QJsonObject>("record");
        QTest::addColumn<QString>("title"); // the row that must take the input
        QTest::addColumn<QString>("keys"); // typed from the first row; none: a click far right in the row
        QTest::addColumn<QString>("expected"); // daemon methods and "open <path>", $HOME for the home
        const auto in = [](const QString &state) { return ModelDriver::record(state); };
        const auto folder = [](const QString &path) {
            return ModelDriver::record(u"synced"_s, {{u"syncFolder"_s, path}});
        };
        const QString open = u"Open Sync Folder"_s;
        QTest::newRow("pause") << in(u"syncing"_s) << u"Pause Syncing"_s << QString() << u"pause"_s;
        QTest::newRow("resume") << in(u"paused"_s) << u"Resume Syncing"_s << u"Return"_s << u"resume"_s;
        QTest::newRow("retry") << in(u"error"_s) << u"Retry Sync"_s << u"Space"_s << u"resume"_s;
        QTest::newRow("log out") << in(u"synced"_s) << u"Log Out"_s << u"Tab Tab Tab Tab Num+Enter"_s << u"logout"_s;
        QTest::newRow("pause for an hour") << in(u"synced"_s) << u"Pause for 1 Hour"_s << u"Tab Space"_s << u"pause"_s;
        QTest::newRow("modifiers") << in(u"synced"_s) << u"Pause Syncing"_s << u"Ctrl+Return A"_s << QString();
        QTest::newRow("default folder") << folder(u"~/Tornel"_s) << open << QString() << u"open $HOME/Tornel"_s;
        QTest::newRow("tilde alone") << folder(u"~"_s) << open << QString() << u"open $HOME"_s;
        // A tilde elsewhere is part of a name; "~bob" is no folder of ours, and a relative path is refused.
        QTest::newRow("tilde inside") << folder(u"~/backup~1"_s) << open << QString() << u"open $HOME/backup~1"_s;
        QTest::newRow("tilde before a name") << folder(u"~bob/files"_s) << open << QString() << QString();
    }

    void commandsReachTheDaemonAndTheDesktop()
    {
        QFETCH(QJsonObject, record);
        QFETCH(QString, title);
        QFETCH(QString, keys);
        QFETCH(QString, expected);
        QVERIFY(QDir::home().mkpath(u"Tornel"_s) && QDir::home().mkpath(u"backup~1"_s));
        QVERIFY(m->model.apply(record));
        CommandRow *command = row(title);
        QVERIFY(command);
        const QRect label = command->labelRect();
        QVERIFY(label.right() - 2 > command->fontMetrics().horizontalAdvance(title) + 60); // past the title
        QSignalSpy clicks(command, &CommandRow::clicked);
        QDesktopServices::setUrlHandler(u"file"_s, this, "openUrl");
        m->view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m->view.get())); // the first row takes focus
        for (const QString &key : keys.split(u' ', Qt::SkipEmptyParts))
            QTest::keySequence(QApplication::focusWidget(), QKeySequence(key));
        if (keys.isEmpty())
            QTest::mouseClick(command, Qt::LeftButton, {}, QPoint(label.right() - 2, label.center().y()));
        QDesktopServices::unsetUrlHandler(u"file"_s);
        QCOMPARE(clicks.size(), expected.isEmpty() && title != u"Open Sync Folder"_s ? 0 : 1);
        QTRY_COMPARE((m->model.calls() + m->opened).join(u", "_s), expected);
    }

    // A logout the daemon refused says why under the status; a daemon down for
    // good is offered a restart instead of a retry that would ask nobody.
    void refusedCommandAndServiceDown()
    {
        m->model.daemon().setResponder([](const QJsonObject &request) {
            return request.value(u"method"_s).toString() == u"logout" ? Reply::error(u"Not now"_s)
                                                                      : Reply::result(ModelDriver::record(u"error"_s));
        });
        m->model.state().fetchStatus();
        QTRY_VERIFY(row(u"Retry Sync"_s));
        row(u"Log Out"_s)->click();
        auto *errorLine = m->view->findChild<QLabel *>(u"errorLine"_s);
        QTRY_COMPARE(errorLine->text(), u"Could not log out: Not now"_s);
        QVERIFY(errorLine->isVisibleTo(m->view.get()));

        QSignalSpy notFound(&m->daemonManager, &DaemonManager::daemonNotFound);
        m->daemonManager.start(); // nothing to launch in the test's home
        QTRY_VERIFY(row(u"Restart Sync Service"_s));
        QVERIFY(!row(u"Retry Sync"_s));
        row(u"Restart Sync Service"_s)->click();
        QCOMPARE(notFound.size(), 2);
    }

    // A megabyte of error text is cut before any layout measures it.
    void hugeDaemonTextIsCut()
    {
        QVERIFY(m->model.apply(ModelDriver::record(u"error"_s, {{u"errorMessage"_s, QString(1'000'000, u'x')}})));
        for (const char *name : {"statusText", "errorLine"}) {
            auto *label = m->view->findChild<QLabel *>(QLatin1StringView(name));
            QCOMPARE(label->text().size(), DaemonText::maxShownLength);
            QVERIFY(label->text().endsWith(QChar(0x2026)));
        }
    }

    // Only a folder that exists is handed to the desktop; any other text is refused where errors show.
    void onlyAnExistingFolderIsOpened_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("opened"); // empty: refused
        QTest::newRow("a folder") << u"~/Tornel"_s << u"open $HOME/Tornel"_s;
        QTest::newRow("a link to a folder") << u"~/linked"_s << u"open $HOME/linked"_s;
        QTest::newRow("a web address") << u"https://example.com/x"_s << QString();
        QTest::newRow("a file URL") << u"file:///etc"_s << QString();
        QTest::newRow("an option") << u"-x"_s << QString();
        QTest::newRow("a relative path") << u"Tornel"_s << QString();
        QTest::newRow("a program") << u"~/run.sh"_s << QString();
        QTest::newRow("missing") << u"~/gone"_s << QString();
    }

    void onlyAnExistingFolderIsOpened()
    {
        QFETCH(QString, folder);
        QFETCH(QString, opened);
        const QDir home = QDir::home();
        QVERIFY(home.mkpath(u"Tornel"_s) && QFile::link(home.filePath(u"Tornel"_s), home.filePath(u"linked"_s)));
        QFile program(home.filePath(u"run.sh"_s));
        QVERIFY(program.open(QIODevice::WriteOnly) && program.setPermissions(QFile::ExeOwner | QFile::ReadOwner));
        QVERIFY(m->model.apply(ModelDriver::record(u"synced"_s, {{u"syncFolder"_s, folder}})));
        QDesktopServices::setUrlHandler(u"file"_s, this, "openUrl");
        m->view->perform(PanelCommand::openSyncFolder);
        QDesktopServices::unsetUrlHandler(u"file"_s);
        QCOMPARE(m->opened.join(u", "_s), opened);
        const QString refusal = u"The sync folder %1 cannot be opened"_s.arg(folder);
        QTRY_COMPARE(m->view->findChild<QLabel *>(u"errorLine"_s)->text(), opened.isEmpty() ? refusal : QString());
    }

    void pulseFollowsTheStatus()
    {
        // Whether it pulses is in the descriptions; here, how the opacity follows.
        PulseModifier *pulse = m->view->statusSection()->pulse();
        QVERIFY(m->model.apply(ModelDriver::record(u"syncing"_s)));
        QTRY_VERIFY(pulse->opacity() < 0.9);
        QVERIFY(m->model.apply(ModelDriver::record(u"synced"_s)));
        QTRY_COMPARE(pulse->opacity(), 1.0);
        QVERIFY(m->model.apply(ModelDriver::record(u"syncing"_s))); // without reopening anything
        QTRY_VERIFY(pulse->opacity() < 0.9);
    }

    // Hidden, the panel skips the model's answers; shown, it is current before
    // its first paint, and its last-sync phrase follows the clock at each answer.
    void showsTheCurrentStateAsItIsShownAndAfter()
    {
        const auto text = [this](const char *name) { return m->view->findChild<QLabel *>(name)->text(); };
        const QJsonObject synced = ModelDriver::record(u"synced"_s, {{u"lastSync"_s, u"2024-05-01T10:00:00Z"_s}});
        m->view->hide();
        QVERIFY(m->model.apply(synced));
        m->view->show();
        QCOMPARE(text("statusText") + u"; "_s + text("lastSyncLine"), u"All files up to date; Last synced 5 minutes ago"_s);
        m->model.state().setWallClock([] { return QDateTime(QDate(2024, 5, 1), QTime(11, 0), Qt::UTC); });
        QVERIFY(m->model.apply(synced));
        QCOMPARE(text("lastSyncLine"), u"Last synced 1 hour ago"_s);
    }

    // The user's language where the companion has it, ICU's phrase inside its
    // line; English otherwise, in its plural forms.
    // Under "Sync paused" while a timed pause runs, gone once the user resumed.
    void showsWhenATimedPauseEnds()
    {
        // Already paused: only the deadline's own news can show it.
        QVERIFY(m->model.apply(ModelDriver::record(u"paused"_s)));
        TimedPause &timed = m->model.state().timedPause();
        const QDateTime deadline(QDate(2024, 5, 1), QTime(11, 5), Qt::UTC);
        timed.setWallClock([deadline] { return deadline.addSecs(-3600); });
        timed.pauseUntil(deadline);
        const auto *line = m->view->findChild<QLabel *>("resumesLine");
        QTRY_VERIFY(line->isVisibleTo(m->view.get()));
        QCOMPARE(line->text(), u"Resumes at "_s + QLocale().toString(deadline.toLocalTime().time(), QLocale::ShortFormat));
        m->model.state().resume();
        QTRY_VERIFY(!line->isVisibleTo(m->view.get()));
    }

    void speaksTheLocalesLanguage_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QJsonObject>("record");
        QTest::addColumn<QString>("expected"); // the status, last-sync and first command lines
        const QJsonObject synced = ModelDriver::record(u"synced"_s, {{u"lastSync"_s, u"2024-05-01T10:00:00Z"_s}});
        const auto syncing = [](int files) { return ModelDriver::record(u"syncing"_s, {{u"pendingUploads"_s, files}}); };
        QTest::newRow("German, synced") << u"de_DE"_s << synced
                                        << u"Alle Dateien aktuell; Zuletzt synchronisiert vor 5 Minuten; Synchronisierung pausieren"_s;
        QTest::newRow("German, 1 file") << u"de_DE"_s << syncing(1) << u"1 Datei wird synchronisiert …; ; Synchronisierung pausieren"_s;
        QTest::newRow("none, 1 file") << u"xx_XX"_s << syncing(1) << u"Syncing 1 file...; ; Pause Syncing"_s;
        QTest::newRow("none, 2 files") << u"xx_XX"_s << syncing(2) << u"Syncing 2 files...; ; Pause Syncing"_s;
    }

    void speaksTheLocalesLanguage()
    {
        QFETCH(QString, locale);
        QFETCH(QJsonObject, record);
        QFETCH(QString, expected);
        m_english.reset(); // the row's locale alone decides
        const auto reinstall = qScopeGuard([this] { m_english.emplace(QLocale(QLocale::English)); });
        const Translations translations{QLocale(locale)};
        m = std::make_unique<Panel>(); // its texts made in the language
        m->view->show();
        const icu::Locale usual = icu::Locale::getDefault();
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale(locale.toLatin1().constData()), status);
        const auto restore = qScopeGuard([&] { icu::Locale::setDefault(usual, status); });
        QVERIFY(m->model.apply(record));
        const auto text = [this](const char *name) { return m->view->findChild<QLabel *>(name)->text(); };
        const QString first = m->view->findChildren<CommandRow *>().constFirst()->text();
        QCOMPARE(QStringList({text("statusText"), text("lastSyncLine"), first}).join(u"; "_s), expected);
    }

    void quitEndsTheEventLoop()
    {
        QTimer::singleShot(0, this, [this] { QTest::mouseClick(row(u"Quit Tornel"_s), Qt::LeftButton); });
        QTimer::singleShot(10000, this, [] { QCoreApplication::exit(1); });
        QCOMPARE(QCoreApplication::exec(), 0);
    }

    void loginFormFromOpeningToLoggingIn()
    {
        QTest::mouseClick(row(u"Log In to Tornel"_s), Qt::LeftButton);
        QTRY_VERIFY(m->view->findChildren<CommandRow *>().isEmpty()); // in place of the main content
        QVERIFY(m->model.apply(ModelDriver::record(u"synced"_s))); // a status change leaves the form up
        QCOMPARE(m->view->focusWidget(), field(u"email"_s)); // typing goes there at once
        QCOMPARE(field(u"email"_s)->text() + field(u"password"_s)->text(), QString());
        QCOMPARE(field(u"serverUrl"_s)->text(), u"http://localhost:8080"_s);
        QVERIFY(field(u"serverUrl"_s)->isVisibleTo(form())); // Advanced is expanded
        QVERIFY(!errorShown());
        QVERIFY(!button()->isEnabled());
        QTest::keyClicks(field(u"email"_s), u"me@example.com"_s);
        QVERIFY(!button()->isEnabled());
        QTest::keyClicks(field(u"password"_s), u"secret"_s);
        QVERIFY(button()->isEnabled());
        field(u"email"_s)->clear();
        QVERIFY(!button()->isEnabled());
        QTest::keyClick(field(u"password"_s), Qt::Key_Return); // Return only while enabled
        QVERIFY(!form()->isLoading());
        QTest::mouseClick(form()->findChild<SymbolButton *>(u"backButton"_s), Qt::LeftButton);
        QVERIFY(row(u"Pause Syncing"_s));
        QTRY_VERIFY(m->view->findChildren<LoginView *>().isEmpty());
        m->view->setShowingLogin(true);
        QCOMPARE(field(u"password"_s)->text(), QString()); // opened again, it starts afresh
        fill(u" "_s, u"  "_s, Reply::error(u"nope"_s)); // spaces count as filled
        QTest::keyClick(field(u"password"_s), Qt::Key_Return);
        QVERIFY(form()->isLoading());
        QTRY_COMPARE(m->model.calls(), QStringList{u"login"_s});
    }

    void loginFailureShowsTheDaemonMessage()
    {
        const QString message = u"Invalid email or password (code 401): check your credentials"_s;
        fill(u"me@example.com"_s, u"wrong"_s, Reply::error(message));
        field(u"serverUrl"_s)->setText(u"http://127.0.0.1:9000"_s);
        QTest::mouseClick(button(), Qt::LeftButton);
        QTRY_VERIFY(errorShown());
        QCOMPARE(errorText()->text(), message);
        QCOMPARE(field(u"email"_s)->text() + field(u"password"_s)->text() + field(u"serverUrl"_s)->text(),
                 u"me@example.comwronghttp://127.0.0.1:9000"_s);
        QVERIFY(field(u"password"_s)->isEnabled());
        // The next attempt hides the old message before any answer arrives.
        fill(u"me@example.com"_s, u"wrong"_s, Reply::error(u"again"_s), 200);
        QTest::mouseClick(button(), Qt::LeftButton);
        QVERIFY(!errorShown());
        QTRY_COMPARE(errorText()->text(), u"again"_s);
    }

    void loginAnswer_data()
    {
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<QString>("meanwhile"); // what happens while logging in
        QTest::newRow("success closes the form") << true << QString();
        QTest::newRow("failure of a closed form is dropped") << false << u"form reopened"_s;
        QTest::newRow("success closes a form opened again") << true << u"form reopened"_s;
        QTest::newRow("completion after the panel is gone") << true << u"panel gone"_s;
    }

    void loginAnswer()
    {
        QFETCH(bool, succeeds);
        QFETCH(QString, meanwhile);
        fill(u" me@example.com "_s, u"  "_s, succeeds ? Reply::result(QJsonObject()) : Reply::error(u"late"_s), 300);
        field(u"serverUrl"_s)->setText(u" http://host "_s);
        QTest::mouseClick(button(), Qt::LeftButton);
        // Locked while logging in, all but the way back.
        for (QWidget *control : {field(u"email"_s), field(u"password"_s), field(u"serverUrl"_s)})
            QVERIFY(!control->isEnabled());
        QVERIFY(button()->isBusy());
        QTest::mouseClick(button(), Qt::LeftButton); // pressed again while busy: nothing
        if (meanwhile == u"form reopened") {
            QTest::mouseClick(form()->findChild<SymbolButton *>(u"backButton"_s), Qt::LeftButton);
            QVERIFY(!m->view->showingLogin());
            m->view->setShowingLogin(true);
        } else if (meanwhile == u"panel gone") {
            m->view.reset();
            // A successful login fetches the status and then completes, in one task.
            QTRY_COMPARE(m->model.daemon().methods(), (QStringList{u"login"_s, u"status"_s}));
            return;
        }
        QTRY_COMPARE(m->model.calls(), QStringList{u"login"_s});
        // What was typed is sent as it is.
        const QJsonObject sent{
            {u"email"_s, u" me@example.com "_s}, {u"password"_s, u"  "_s}, {u"serverUrl"_s, u" http://host "_s}};
        QCOMPARE(m->model.daemon().requests().first().value(u"params"_s).toObject(), sent);
        if (succeeds)
            QTRY_VERIFY(!m->view->showingLogin());
        else
            QVERIFY(!QTest::qWaitFor([this] { return !form() || errorShown() || form()->isLoading(); }, 1000));
    }

    void keysInTheForm_data()
    {
        QTest::addColumn<QString>("control"); // where focus is
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("password"); // empty: "Log In" is disabled
        QTest::addColumn<QString>("expected"); // "login", "nothing", "back" or "fold"
        for (const QString &control : u"back email password advanced serverUrl loginButton"_s.split(u' ')) {
            QTest::addRow("Return on %s", qPrintable(control)) << control << u"Return"_s << u"pw"_s << u"login"_s;
            QTest::addRow("Return on %s, disabled", qPrintable(control))
                << control << u"Return"_s << QString() << u"nothing"_s;
        }
        QTest::newRow("Space on back") << u"back"_s << u"Space"_s << u"pw"_s << u"back"_s;
        QTest::newRow("Space on Advanced") << u"advanced"_s << u"Space"_s << u"pw"_s << u"fold"_s;
        QTest::newRow("Space on Log In") << u"loginButton"_s << u"Space"_s << u"pw"_s << u"login"_s;
    }

    void keysInTheForm()
    {
        QFETCH(QString, control);
        QFETCH(QString, key);
        QFETCH(QString, password);
        QFETCH(QString, expected);
        fill(u"me@example.com"_s, password, Reply::error(u"no"_s));
        QWidget *target = form()->findChildren<QWidget *>(QRegularExpression(u"^"_s + control)).value(0);
        QTest::keySequence(target, QKeySequence(key)); // as if it had focus
        QCOMPARE(m->view->showingLogin(), expected != u"back"_s);
        if (expected == u"back"_s)
            return;
        QCOMPARE(form()->isLoading(), expected == u"login"_s);
        QCOMPARE(field(u"serverUrl"_s)->isVisibleTo(form()), expected != u"fold"_s);
        QCOMPARE(field(u"email"_s)->text() + field(u"password"_s)->text(), u"me@example.com"_s + password);
    }

    void tabFollowsTheScreen()
    {
        fill(u"me@example.com"_s, u"pw"_s, Reply::error(u"no"_s));
        m->view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m->view.get())); // on the e-mail field
        QStringList order;
        for (int i = 0; i < 6; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(order.join(u' '), u"passwordField advancedToggle serverUrlField loginButton backButton emailField"_s);
    }

    // Opened by a click, the panel gives its first command focus but draws no ring, even once a new status
    // brings other commands; a key brings the ring, which goes with the panel. "<focused row>[ ringed]".
    void focusRingOnlyAfterAKey()
    {
        m->view->hide();
        PopoverHost host(m->model.state(), m->daemonManager);
        const auto focus = [] {
            const auto *row = qobject_cast<CommandRow *>(QApplication::focusWidget());
            return row ? row->text() + (row->showsFocusRing() ? u" ringed"_s : QString()) : u"none"_s;
        };
        QVERIFY(m->model.apply(ModelDriver::record(u"synced"_s)));
        host.open();
        QVERIFY(QTest::qWaitForWindowActive(&host));
        QStringList seen{focus()};
        QVERIFY(m->model.apply(ModelDriver::record(u"paused"_s)));
        seen << focus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        seen << focus();
        host.hide();
        host.open();
        seen << focus();
        QCOMPARE(seen.join(u", "_s), u"Pause Syncing, Resume Syncing, Open Sync Folder ringed, Open Sync Folder"_s);
    }

    // Roles, names, states and focus as Qt's accessibility interfaces give them to screen readers.
    void screenReadersHearWhatHappens()
    {
        QPlatformAccessibility *platform = QGuiApplicationPrivate::platformIntegration()->accessibility();
        platform->setActive(true); // as when a screen reader listens
        const QAccessible::UpdateHandler before = QAccessible::installUpdateHandler(&hear);
        const auto restore = qScopeGuard([before, platform] {
            QAccessible::installUpdateHandler(before);
            platform->setActive(false);
        });
        m->view->hide(); // the panel in its window alone, which nothing else takes activation from
        PopoverHost host(m->model.state(), m->daemonManager);
        MenuBarView &panel = host.panel();
        const auto find = [&panel](const QString &name) { return panel.findChild<QWidget *>(name); };
        const auto label = [&panel](const QString &text) {
            for (QLabel *candidate : panel.findChildren<QLabel *>())
                if (candidate->text() == text)
                    return candidate;
            return static_cast<QLabel *>(nullptr);
        };
        const QJsonObject counts{{u"pendingUploads"_s, 1}, {u"pendingDownloads"_s, 9}};
        QVERIFY(m->model.apply(ModelDriver::record(u"syncing"_s, counts)));
        host.open();
        QCOMPARE(accessible(&host), u"Window Tornel"_s);
        QTRY_COMPARE(heard.last(), u"Focus Pause Syncing"_s); // after the window shows
        QCOMPARE(accessible(label(u"Tornel"_s)), u"Heading Tornel"_s);
        QCOMPARE(accessible(label(u"1"_s)) + u", "_s + accessible(label(u"9"_s)),
                 u"StaticText 1 upload pending, StaticText 9 downloads pending"_s);

        panel.perform(PanelCommand::logIn);
        QCOMPARE(accessible(label(u"Log In"_s)), u"Heading Log In"_s);
        QCOMPARE(accessible(find(u"emailField"_s)), u"EditableText Email focused described as you@example.com"_s);
        QCOMPARE(accessible(find(u"advancedToggle"_s)), u"Button Advanced expandable expanded"_s);
        QTest::keyClick(find(u"advancedToggle"_s), Qt::Key_Space);
        QCOMPARE(accessible(find(u"advancedToggle"_s)), u"Button Advanced expandable collapsed"_s);
        QVERIFY(heard.contains(u"StateChanged Advanced expanded"_s));

        const QString message = u"Invalid email or password"_s;
        m->model.daemon().setResponder([message](const QJsonObject &) { return Reply::error(message); });
        for (const QString &key : {u"m"_s, u"Tab"_s, u"w"_s, u"Return"_s}) // from the e-mail field
            QTest::keySequence(QApplication::focusWidget(), QKeySequence(key));
        QCOMPARE(accessible(QApplication::focusWidget()), u"Button Logging in... focused busy"_s);
        QTRY_COMPARE(accessible(find(u"passwordField"_s)), u"EditableText Password focused described as "_s + message);
        QCOMPARE(accessible(find(u"loginErrorRow"_s)), u"AlertMessage "_s + message);
        QCOMPARE(heard.filter(u"Alert"_s), QStringList{u"Alert "_s + message});
    }
};

QTEST_MAIN(TestMenuBarView)
#include "test_menu_bar_view.moc"
