#include "views/command_section.h"

#include "state/sync_state.h"
#include "views/command_row.h"
#include "views/divider.h"
#include "views/elided_wrapped_label.h"
#include "views/layout_metrics.h"
#include "views/symbol_view.h"
#include "views/text_style.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace {

constexpr int dividerInset = 4;

} // namespace

CommandSection::CommandSection(QWidget *parent) : QWidget(parent), m_column(new QVBoxLayout(this))
{
    m_column->setContentsMargins(0, 0, 0, 8);
    m_column->setSpacing(0);
}

void CommandSection::refresh(const SyncState &state)
{
    const QList<PanelCommand> commands = commandsForStatus(state.status());
    if (commands != m_shownCommands)
        rebuild(commands);
    if (m_accountRow) {
        const std::optional<QString> email = state.userEmail();
        m_accountEmail->setText(email.value_or(QString()));
        m_accountRow->setVisible(email.has_value());
    }
}

void CommandSection::rebuild(const QList<PanelCommand> &commands)
{
    const bool hadFocus = isAncestorOf(focusWidget());
    while (QLayoutItem *item = m_column->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_accountRow = nullptr;
    m_accountEmail = nullptr;

    for (PanelCommand command : commands) {
        if (command == PanelCommand::logOut) {
            m_column->addWidget(new Divider(dividerInset));
            m_accountRow = makeAccountRow();
            m_column->addWidget(m_accountRow);
        }
        addCommandRow(command);
    }
    m_column->addWidget(new Divider(dividerInset));
    addCommandRow(PanelCommand::quit);
    m_shownCommands = commands;
    // A layout shows widgets added to a visible parent only one event-loop
    // turn later; show them now so this refresh is complete by itself.
    for (int i = 0; i < m_column->count(); ++i)
        m_column->itemAt(i)->widget()->show();

    // The row that had focus may be gone (a click on "Pause Syncing" shows
    // "Resume Syncing" instead); keep the keyboard user inside the section.
    if (hadFocus)
        focusFirstCommand();
}

void CommandSection::focusFirstCommand()
{
    if (QLayoutItem *first = m_column->itemAt(0))
        first->widget()->setFocus(Qt::TabFocusReason);
}

void CommandSection::addCommandRow(PanelCommand command)
{
    auto *row = new CommandRow(command);
    connect(row, &CommandRow::clicked, this, [this, command] { emit commandActivated(command); });
    m_column->addWidget(row);
}

QWidget *CommandSection::makeAccountRow()
{
    auto *row = new QWidget;
    row->setObjectName(QStringLiteral("accountRow"));
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(16, 4, 16, 4);
    layout->setSpacing(defaultSpacing);
    layout->addWidget(new SymbolView(QStringLiteral("person.circle"), NamedColor::secondaryLabel,
                                     symbolSize(textStyleFont(TextStyle::body))));
    m_accountEmail = new ElidedWrappedLabel(1);
    m_accountEmail->setObjectName(QStringLiteral("accountEmail"));
    applyTextStyle(m_accountEmail, TextStyle::caption, NamedColor::secondaryLabel);
    layout->addWidget(m_accountEmail, 1);
    return row;
}
