// Draws the panel in each status and the login form, in the light and the
// dark scheme, and the tray icons to PNG files, for looking at by eye: `make renders` writes them to
// build/docs/renders (or give another folder as the argument). The model is driven by a scripted
// daemon on a real socket, as in the tests, so the pictures show what the
// daemon's answers make of the panel. Nothing here checks how they look.
//
// Each group of pictures is one function that sets up its windows and takes
// its pictures; a new group is a new function called from main().
#include "model_driver.h"

#include "app/translations.h"
#include "daemon/daemon_manager.h"
#include "tray/popover_host.h"
#include "tray/tray_status_item.h"
#include "views/controls/painted_button.h"
#include "views/login_view.h"
#include "views/menu_bar_view.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QSet>
#include <QTest>

#include <cstdio>

using namespace Qt::StringLiterals;
using Reply = ScriptedDaemon::Reply;

namespace {

// Where the pictures go, and what became of each.
class Pictures {
public:
    explicit Pictures(const QString &folder) : m_folder(folder) {}

    // Saves what the window system would show of `window` now as <name>.png.
    void take(QWidget &window, const QString &name)
    {
        // The window's own backing store, painted now: QWidget::render()
        // misplaces widgets with an opacity effect, such as the pulsing
        // status symbol.
        if (!settle(window))
            fail(name + u": the layout did not settle"_s);
        window.repaint();
        save(window.screen()->grabWindow(window.winId()).toImage(), name);
    }

    // Saves `image` as <name>.png.
    void save(const QImage &image, const QString &name)
    {
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); y += 4) {
            for (int x = 0; x < image.width(); x += 4)
                colours.insert(image.pixel(x, y));
        }
        const QString path = m_folder.absoluteFilePath(name + u".png"_s);
        if (colours.size() <= 4)
            fail(name + u": nothing but the background was drawn"_s);
        else if (!image.save(path))
            fail(u"could not write "_s + path);
        else
            m_written << path;
    }

    // Lets the layouts settle: text that wraps anew can take the event loop
    // a few turns to lay out. False when they keep moving.
    static bool settle(const QWidget &window)
    {
        QList<QRect> last;
        int calm = 0; // checks in a row without a change
        return QTest::qWaitFor(
            [&] {
                QList<QRect> now;
                for (const QWidget *widget : window.findChildren<QWidget *>())
                    now << widget->geometry();
                calm = now == last ? calm + 1 : 0;
                last = now;
                return calm == 3;
            },
            2000);
    }

    void fail(const QString &why)
    {
        std::fprintf(stderr, "render_panel: %s\n", qPrintable(why));
        ++m_failures;
    }

    // Says what was written; the exit status of the program.
    int finish() const
    {
        for (const QString &path : m_written)
            std::printf("%s\n", qPrintable(path));
        std::printf("Wrote %lld pictures to %s\n", qlonglong(m_written.size()), qPrintable(m_folder.absolutePath()));
        return m_failures == 0 ? 0 : 1;
    }

private:
    QDir m_folder;
    QStringList m_written;
    int m_failures = 0;
};

// Each group of panel pictures in both schemes: the dark ones named panel-dark-*.png.
QString schemeName(const QString &name, ColorScheme scheme)
{
    return scheme == ColorScheme::dark ? QString(name).replace(u"panel-"_s, u"panel-dark-"_s) : name;
}

// The panel as it hangs from the tray icon, in each status: panel-<status>.png.
void panelStatuses(Pictures &pictures, ColorScheme scheme)
{
    // ICU's phrase in the user's language; the driver sets English for the tests.
    const icu::Locale userLocale = icu::Locale::getDefault();
    ModelDriver model;
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(userLocale, status);
    DaemonManager daemonManager;
    PopoverHost host(model.state(), daemonManager);
    host.setPalette(panelPalette(scheme));
    host.open();
    if (!QTest::qWaitForWindowExposed(&host))
        return pictures.fail(u"the panel did not show"_s);

    const QJsonObject account{{u"userEmail"_s, u"ada@example.com"_s}, {u"lastSync"_s, u"2024-05-01T10:00:00Z"_s}};
    const auto with = [&account](const QString &state, QJsonObject fields) {
        for (auto it = account.begin(); it != account.end(); ++it)
            fields.insert(it.key(), it.value());
        return ModelDriver::record(state, fields);
    };
    const QList<std::pair<QString, QJsonObject>> statuses{
        {u"logged-out"_s, ModelDriver::record(u"logged_out"_s)},
        {u"syncing"_s, with(u"syncing"_s, {{u"pendingUploads"_s, 3}, {u"pendingDownloads"_s, 12}})},
        {u"synced"_s, with(u"synced"_s, {})},
        {u"paused"_s, with(u"paused"_s, {})},
        {u"error"_s, with(u"error"_s, {{u"errorMessage"_s, u"Upload failed: storage quota exceeded"_s}})},
        {u"error-long"_s,
         with(u"error"_s, {{u"errorMessage"_s, u"Could not reach the server at http://localhost:8080: the connection "
                                               u"was refused after several attempts, so changes are kept locally and "
                                               u"will be uploaded once the server answers again (last attempt at "
                                               u"10:04)"_s}})},
    };
    for (const auto &[name, record] : statuses) {
        if (model.apply(record))
            pictures.take(host, schemeName(u"panel-"_s + name, scheme));
        else
            pictures.fail(name + u": the daemon's answer did not arrive"_s);
    }
}

// The login form new, while logging in, and after a failure: panel-login*.png.
void loginForm(Pictures &pictures, ColorScheme scheme)
{
    ModelDriver model;
    DaemonManager daemonManager;
    PopoverHost host(model.state(), daemonManager);
    host.setPalette(panelPalette(scheme));
    host.open();
    if (!QTest::qWaitForWindowExposed(&host))
        return pictures.fail(u"the panel did not show"_s);
    host.panel().setShowingLogin(true);
    pictures.take(host, schemeName(u"panel-login"_s, scheme));

    LoginView *form = host.panel().loginView();
    form->findChild<QLineEdit *>(u"emailField"_s)->setText(u"ada@example.com"_s);
    form->findChild<QLineEdit *>(u"passwordField"_s)->setText(u"secret"_s);
    Reply slow = Reply::error(u"Invalid email or password"_s);
    slow.delayMs = 300;
    model.daemon().setResponder([slow](const QJsonObject &) { return slow; });
    QTest::mouseClick(form->findChild<ProminentButton *>(), Qt::LeftButton);
    pictures.take(host, schemeName(u"panel-login-busy"_s, scheme));
    if (!QTest::qWaitFor([form] { return !form->isLoading(); }, 5000))
        return pictures.fail(u"login-error: the daemon's answer did not arrive"_s);
    pictures.take(host, schemeName(u"panel-login-error"_s, scheme));
}

// The tray icons (launch, then each status) as the tray is handed them for a
// panel of unknown, dark and light brightness, on a dark (#222222), a middle
// (Breeze Light's #CFD2D4) and a light (#EEEEEE) strip each: at 16, 22 and 32 px, then the 16 px ones four times
// enlarged. tray-icons-<brightness>.png.
void trayIcons(Pictures &pictures)
{
    QList<StatusIcon> icons{launchIcon()};
    for (SyncStatus status : {SyncStatus::loggedOut, SyncStatus::syncing, SyncStatus::synced, SyncStatus::paused,
                              SyncStatus::error})
        icons << statusIcon(status);
    constexpr int enlarged = 4;
    constexpr int margin = 12;
    constexpr int stripHeight = 16 * enlarged + 2 * margin;
    const QList<std::pair<QString, Brightness>> cases{
        {u"unknown"_s, Brightness::unknown}, {u"dark"_s, Brightness::dark}, {u"light"_s, Brightness::light}};
    for (const auto &[name, brightness] : cases) {
        const QList<QColor> strips{QColor(0x222222), QColor(0xCFD2D4), QColor(0xEEEEEE)};
        QImage image(icons.size() * (16 + 22 + 32 + 16 * enlarged + 5 * margin) + margin,
                     int(strips.size()) * stripHeight, QImage::Format_RGB32);
        QPainter painter(&image);
        for (const QColor &strip : strips) {
            const int top = int(strips.indexOf(strip)) * stripHeight;
            painter.fillRect(0, top, image.width(), stripHeight, strip);
            int x = margin;
            for (const StatusIcon &icon : icons) {
                const QIcon drawn = trayIcon(icon, brightness);
                for (int side : {16, 22, 32}) {
                    painter.drawPixmap(x, top + (stripHeight - side) / 2, drawn.pixmap(side));
                    x += side + margin;
                }
                const QImage small = drawn.pixmap(16).toImage();
                painter.drawImage(x, top + margin, small.scaled(small.size() * enlarged));
                x += 16 * enlarged + 2 * margin;
            }
        }
        painter.end();
        pictures.save(image, u"tray-icons-"_s + name);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    // No window needs to appear on the desktop to be drawn.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // In the language of LANG, as the companion: `LANG=de_DE.UTF-8 make renders`.
    const Translations translations;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(TORNEL_RENDER_DIR);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "render_panel: cannot create %s\n", qPrintable(folder));
        return 1;
    }
    Pictures pictures(folder);
    for (ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
        panelStatuses(pictures, scheme);
        loginForm(pictures, scheme);
    }
    trayIcons(pictures);
    return pictures.finish();
}
