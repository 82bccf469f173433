// Every tray icon reads on the desktop's panel, dark or light: WCAG contrast of 3:1 or more (the
// figure for graphics) for the 75th percentile of its visible pixels, at every size from 16 to 64 px,
// on each desktop's default panel and, where the panel's brightness is unknown, on dark, middle and light ones.
// And what differs in the macOS menu bar: template images, and which click opens the menu.
#include "contrast.h"
#include "tray/tray_status_item.h"

#include <QPainter>
#include <QTest>

Q_DECLARE_METATYPE(StatusIcon)
Q_DECLARE_METATYPE(Brightness)
Q_DECLARE_METATYPE(ClickAction)
Q_DECLARE_METATYPE(SchemePreference)

static double contrastOnPanel(const QImage &icon, const QColor &panel)
{
    QImage drawn(icon.size(), QImage::Format_RGB32);
    drawn.fill(panel);
    QPainter(&drawn).drawImage(0, 0, icon);
    QList<double> ratios;
    const double back = Contrast::luminance(panel.rgb());
    for (int i = 0; i < icon.width() * icon.height(); ++i) {
        const double front = Contrast::luminance(drawn.pixel(i % icon.width(), i / icon.width()));
        if (qAlpha(icon.pixel(i % icon.width(), i / icon.width())) > 0)
            ratios << Contrast::ratio(front, back);
    }
    std::sort(ratios.begin(), ratios.end());
    return ratios.value(qsizetype((ratios.size() - 1) * 0.75));
}

class TrayIconContrastTest : public QObject {
    Q_OBJECT
private slots:
    void readsOnThePanel_data()
    {
        QTest::addColumn<StatusIcon>("icon");
        QTest::addColumn<Brightness>("brightness");
        QTest::addColumn<QColor>("panel");
        QList<StatusIcon> icons{launchIcon()};
        for (SyncStatus status : {SyncStatus::syncing, SyncStatus::synced, SyncStatus::paused, SyncStatus::error, SyncStatus::loggedOut})
            icons << statusIcon(status);
        // Each tint on a line symbol and on a filled one, beyond those the states use.
        for (int tint = 0; tint <= int(NamedColor::gray) * 2 + 1; ++tint)
            icons << StatusIcon{tint % 2 ? "pause.circle.fill" : "arrow.clockwise", QString::number(tint), NamedColor(tint / 2)};
        // The default panels: GNOME's top bar, Breeze Light and Dark, Xfce 4.18 (dark mode over Adwaita's dark
        // background), LXQt 1.2 (Clearlooks); then the extremes an unknown panel is drawn for.
        const std::tuple<const char *, Brightness, QColor> panels[]{{"GNOME", Brightness::dark, 0x000000},
            {"Breeze Light", Brightness::light, 0xCFD2D4}, {"Breeze Dark", Brightness::dark, 0x292C30},
            {"Xfce", Brightness::dark, 0x353535}, {"LXQt", Brightness::light, 0xEDECEB},
            {"unknown, dark", Brightness::unknown, 0x222222}, {"unknown, black", Brightness::unknown, 0x000000},
            {"unknown, Breeze Light", Brightness::unknown, 0xCFD2D4}, {"unknown, light", Brightness::unknown, 0xEEEEEE},
            {"dark", Brightness::dark, 0x222222}, {"light", Brightness::light, 0xEEEEEE}};
        for (const StatusIcon &icon : icons)
            for (const auto &[name, brightness, panel] : panels)
                QTest::addRow("%s %s on %s", qPrintable(icon.symbol), qPrintable(icon.description), name) << icon << brightness << panel;
    }

    void readsOnThePanel()
    {
        QFETCH(StatusIcon, icon);
        QFETCH(Brightness, brightness);
        QFETCH(QColor, panel);
        for (int side = 16; side <= 64; ++side) {
            const double contrast = contrastOnPanel(trayIcon(icon, brightness).pixmap(side).toImage(), panel);
            QVERIFY2(contrast >= 3, qPrintable(QStringLiteral("%1 px: %2:1").arg(side).arg(contrast, 0, 'f', 2)));
        }
    }

    // A preference for light windows says the panel is light too, except on GNOME, whose top bar stays dark.
    void panelBrightnessFromTheColorScheme_data()
    {
        QTest::addColumn<SchemePreference>("preference");
        QTest::addColumn<QString>("desktop"); // XDG_CURRENT_DESKTOP
        QTest::addColumn<Brightness>("brightness");
        QTest::newRow("dark on GNOME") << SchemePreference::dark << "GNOME" << Brightness::dark;
        QTest::newRow("light on Plasma") << SchemePreference::light << "KDE" << Brightness::light;
        QTest::newRow("light on LXQt") << SchemePreference::light << "LXQt" << Brightness::light;
        QTest::newRow("light on Ubuntu's GNOME") << SchemePreference::light << "ubuntu:GNOME" << Brightness::unknown;
        QTest::newRow("light on GNOME Classic") << SchemePreference::light << "GNOME-Classic:GNOME" << Brightness::unknown;
        QTest::newRow("light, desktop not named") << SchemePreference::light << "" << Brightness::unknown;
        QTest::newRow("no preference on Plasma") << SchemePreference::none << "KDE" << Brightness::unknown;
    }

    void panelBrightnessFromTheColorScheme()
    {
        QFETCH(SchemePreference, preference);
        QFETCH(QString, desktop);
        QFETCH(Brightness, brightness);
        QCOMPARE(panelBrightnessFor(preference, desktop), brightness);
    }

    // In the macOS menu bar the icons without a state colour are template
    // images, which the menu bar draws in its own colour; the others keep theirs.
    void neutralIconsAreTemplatesInTheMenuBar()
    {
        const StatusItemStyle menuBar{.menuOnSecondaryClickOnly = true, .neutralIconsAreTemplates = true};
        QVERIFY(trayIcon(launchIcon(), Brightness::unknown, menuBar).isMask());
        QVERIFY(!trayIcon(launchIcon(), Brightness::unknown).isMask());
        for (SyncStatus status : {SyncStatus::syncing, SyncStatus::synced, SyncStatus::paused, SyncStatus::error, SyncStatus::loggedOut})
            QCOMPARE(trayIcon(statusIcon(status), Brightness::unknown, menuBar).isMask(), status == SyncStatus::loggedOut);
    }

    // A menu given to a macOS status item opens on every click: there the
    // item opens it on a right click only, and a left click is the panel's.
    void clicks_data()
    {
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("menuBar");
        QTest::addColumn<ClickAction>("action");
        QTest::newRow("tray: click") << int(QSystemTrayIcon::Trigger) << false << ClickAction::togglePanel;
        QTest::newRow("tray: right click, the tray's menu") << int(QSystemTrayIcon::Context) << false << ClickAction::none;
        QTest::newRow("menu bar: click") << int(QSystemTrayIcon::Trigger) << true << ClickAction::togglePanel;
        QTest::newRow("menu bar: quick second click") << int(QSystemTrayIcon::DoubleClick) << true << ClickAction::togglePanel;
        QTest::newRow("menu bar: right click") << int(QSystemTrayIcon::Context) << true << ClickAction::openMenu;
        QTest::newRow("menu bar: middle click") << int(QSystemTrayIcon::MiddleClick) << true << ClickAction::none;
    }

    void clicks()
    {
        QFETCH(int, reason);
        QFETCH(bool, menuBar);
        QFETCH(ClickAction, action);
        const StatusItemStyle style{.menuOnSecondaryClickOnly = menuBar, .neutralIconsAreTemplates = menuBar};
        QCOMPARE(clickAction(QSystemTrayIcon::ActivationReason(reason), style), action);
    }
};

QTEST_MAIN(TrayIconContrastTest)
#include "test_tray_icon_contrast.moc"
