// What the panel shows reads in both colour schemes: every text 4.5:1 and every symbol 3:1 against
// the panel's background (WCAG), measured on the colours the widgets draw with after the panel
// switched scheme while open. And the panel's edge sets it apart from a desktop of any brightness.
#include "contrast.h"
#include "model_driver.h"

#include "daemon/daemon_manager.h"
#include "tray/popover_host.h"
#include "views/command_section.h"
#include "views/controls/painted_button.h"
#include "views/controls/symbol_view.h"
#include "views/login_view.h"
#include "views/menu_bar_view.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(ColorScheme)

namespace {

// "<what>: <ratio>:1" for each pair below `least`.
void expect(QStringList &weak, const QString &what, const QColor &front, const QColor &back, double least)
{
    const double ratio = Contrast::ratio(front, back);
    if (ratio < least)
        weak << u"%1: %2:1"_s.arg(what).arg(ratio, 0, 'f', 2);
}

} // namespace

class PanelContrastTest : public QObject {
    Q_OBJECT
private slots:
    void everythingShownReads_data()
    {
        QTest::addColumn<ColorScheme>("scheme");
        QTest::addColumn<QJsonObject>("record"); // empty: the login form after a failed login
        const QJsonObject account{{u"userEmail"_s, u"ada@example.com"_s}, {u"lastSync"_s, u"2024-05-01T10:00:00Z"_s}};
        const auto with = [&account](const QString &state, QJsonObject fields) {
            for (auto it = account.begin(); it != account.end(); ++it)
                fields.insert(it.key(), it.value());
            return ModelDriver::record(state, fields);
        };
        const QList<std::pair<const char *, QJsonObject>> states{
            {"logged out", ModelDriver::record(u"logged_out"_s)},
            {"syncing", with(u"syncing"_s, {{u"pendingUploads"_s, 3}, {u"pendingDownloads"_s, 12}})},
            {"synced", with(u"synced"_s, {})},
            {"paused", with(u"paused"_s, {})},
            {"error", with(u"error"_s, {{u"errorMessage"_s, u"Disk full"_s}})},
            {"login form", {}}};
        for (ColorScheme scheme : {ColorScheme::light, ColorScheme::dark})
            for (const auto &[name, record] : states)
                QTest::addRow("%s, %s", scheme == ColorScheme::dark ? "dark" : "light", name) << scheme << record;
    }

    void everythingShownReads()
    {
        QFETCH(ColorScheme, scheme);
        QFETCH(QJsonObject, record);
        ModelDriver model;
        DaemonManager daemonManager;
        PopoverHost host(model.state(), daemonManager);
        host.setPalette(panelPalette(scheme == ColorScheme::dark ? ColorScheme::light : ColorScheme::dark));
        host.open();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        if (record.isEmpty()) {
            host.panel().setShowingLogin(true);
            model.daemon().setResponder([](const QJsonObject &) { return ScriptedDaemon::Reply::error(u"No"_s); });
            host.panel().loginView()->findChild<QLineEdit *>(u"passwordField"_s)->setText(u"pw"_s);
            QTest::mouseClick(host.panel().loginView()->findChild<ProminentButton *>(), Qt::LeftButton);
            QTRY_VERIFY(!host.panel().loginView()->isLoading());
        } else {
            QVERIFY(model.apply(record));
        }
        host.setPalette(panelPalette(scheme)); // while open, as when the desktop switches

        const QColor window = host.palette().color(QPalette::Window);
        QStringList weak;
        int texts = 0;
        for (QLabel *label : host.findChildren<QLabel *>()) {
            if (label->isVisibleTo(&host) && !label->text().isEmpty() && ++texts)
                expect(weak, label->text(), label->palette().color(QPalette::WindowText), window, 4.5);
        }
        for (SymbolView *symbol : host.findChildren<SymbolView *>()) {
            if (symbol->isVisibleTo(&host))
                expect(weak, symbol->symbolName(), resolveColor(symbol->color(), symbol->palette()), window, 3);
        }
        for (CommandRow *row : host.findChildren<CommandRow *>()) {
            expect(weak, row->text(), resolveColor(NamedColor::primaryLabel, row->palette()), window, 4.5);
            expect(weak, row->text() + u" symbol"_s,
                   resolveColor(commandLook(row->command()).symbolColor, row->palette()), window, 3);
        }
        const QPalette palette = host.palette();
        for (QPalette::ColorRole role : {QPalette::Text, QPalette::PlaceholderText})
            expect(weak, u"field text"_s, palette.color(role), palette.color(QPalette::Base), 4.5);
        expect(weak, u"button text"_s, palette.color(QPalette::HighlightedText),
               resolveColor(NamedColor::accent, palette), 4.5);
        expect(weak, u"focus ring"_s, resolveColor(NamedColor::accent, palette), window, 3);
        QVERIFY(texts >= 2);
        QVERIFY2(weak.isEmpty(), qPrintable(weak.join(u"; "_s)));
    }

    // Where the panel meets a desktop of its own brightness its edge tells it apart, elsewhere its background
    // does: black, GNOME's dark windows, Xfce's dark panel, a middle gray, Breeze Light's panel and windows,
    // GNOME's light windows, white.
    void panelStandsOutFromTheDesktop_data()
    {
        QTest::addColumn<ColorScheme>("scheme");
        QTest::addColumn<QColor>("desktop");
        for (ColorScheme scheme : {ColorScheme::light, ColorScheme::dark})
            for (QRgb desktop :
                 {0x000000u, 0x242424u, 0x353535u, 0x777777u, 0xCFD2D4u, 0xEFF0F1u, 0xF6F5F4u, 0xFFFFFFu})
                QTest::addRow("%s on #%06x", scheme == ColorScheme::dark ? "dark" : "light", desktop)
                    << scheme << QColor(desktop);
    }

    void panelStandsOutFromTheDesktop()
    {
        QFETCH(ColorScheme, scheme);
        QFETCH(QColor, desktop);
        const QPalette palette = panelPalette(scheme);
        const double edge = Contrast::ratio(panelEdgeColor(palette), desktop);
        const double background = Contrast::ratio(palette.color(QPalette::Window), desktop);
        QVERIFY2(std::max(edge, background) >= 3,
                 qPrintable(u"edge %1:1, background %2:1"_s.arg(edge).arg(background)));
    }
};

QTEST_MAIN(PanelContrastTest)
#include "test_panel_contrast.moc"
