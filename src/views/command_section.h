#pragma once

#include "daemon/status_response.h"
#include "views/controls/painted_button.h"
#include "views/panel_style.h"

#include <QList>
#include <QString>
#include <QWidget>

class ElidedWrappedLabel;
class QVBoxLayout;
class SyncState;

// The commands of the panel. The panel's command section and the tray icon's
// menu both list them from commandsForStatus(), so the two never disagree.
enum class PanelCommand {
    pauseSyncing,
    pauseForAnHour,
    pauseUntilTomorrow,
    resumeSyncing,
    retrySync,
    restartService,
    openSyncFolder,
    logOut,
    logIn,
    quit
};

struct PanelCommandLook {
    QString title;
    QString symbol;
    NamedColor symbolColor;
};

PanelCommandLook commandLook(PanelCommand command);

// The commands offered in `status`, top to bottom, without "Quit Tornel",
// which always comes last after a divider. While the daemon is down for good
// (`serviceDown`), restarting it comes first and "Retry Sync", which would
// ask nobody, is not offered.
QList<PanelCommand> commandsForStatus(SyncStatus status, bool serviceDown);

// One command of the panel: symbol, title and the empty room right of the
// title form one flat button. No bezel, no hover highlight, never disabled;
// it dims while pressed, takes focus with Tab and reacts to Return or Space
// (the main panel is no form with a default action). Its title is its
// accessible name.
class CommandRow : public PaintedButton {
    Q_OBJECT
public:
    explicit CommandRow(PanelCommand command, QWidget *parent = nullptr);

    PanelCommand command() const { return m_command; }

    // The label row (symbol, title, flexible space) inside the row's insets:
    // the part that takes clicks.
    QRect labelRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &pos) const override;

private:
    PanelCommand m_command;
};

// The lower part of the panel's main content: the commands for the current
// status, the account row above "Log Out", and "Quit Tornel" at the bottom.
// Rows are rebuilt only when the status calls for other commands, so a row
// keeps keyboard focus across the refreshes that each poll brings. Shown in a
// window where nothing has focus yet, it gives the first command focus, so a
// panel opens ready for the keyboard and a screen reader names where it is.
class CommandSection : public QWidget {
    Q_OBJECT
public:
    explicit CommandSection(QWidget *parent = nullptr);

    void refresh(const SyncState &state, bool serviceDown);
    // The ring shows on it only if the keyboard was used in the window.
    void focusFirstCommand();

signals:
    void commandActivated(PanelCommand command);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void rebuild(const QList<PanelCommand> &commands);
    void addCommandRow(PanelCommand command);
    QWidget *makeAccountRow();

    QVBoxLayout *m_column;
    QList<PanelCommand> m_shownCommands;
    QWidget *m_accountRow = nullptr;
    ElidedWrappedLabel *m_accountEmail = nullptr;
};
