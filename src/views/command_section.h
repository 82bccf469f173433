#pragma once

#include "views/panel_command.h"

#include <QList>
#include <QWidget>

class ElidedWrappedLabel;
class QVBoxLayout;
class SyncState;

// The lower part of the panel's main content: the commands for the current
// status, the account row above "Log Out", and "Quit Tornel" at the bottom.
// Rows are rebuilt only when the status calls for other commands, so a row
// keeps keyboard focus across the refreshes that each poll brings.
class CommandSection : public QWidget {
    Q_OBJECT
public:
    explicit CommandSection(QWidget *parent = nullptr);

    void refresh(const SyncState &state);
    void focusFirstCommand();

signals:
    void commandActivated(PanelCommand command);

private:
    void rebuild(const QList<PanelCommand> &commands);
    void addCommandRow(PanelCommand command);
    QWidget *makeAccountRow();

    QVBoxLayout *m_column;
    QList<PanelCommand> m_shownCommands;
    QWidget *m_accountRow = nullptr;
    ElidedWrappedLabel *m_accountEmail = nullptr;
};
