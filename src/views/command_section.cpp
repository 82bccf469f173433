#include "views/command_section.h"

#include "state/sync_state.h"
#include "views/controls/elided_wrapped_label.h"
#include "views/controls/symbol_view.h"
#include "views/symbols.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QVBoxLayout>

namespace {

constexpr int horizontalInset = 16;
constexpr int verticalInset = 6;
constexpr int symbolFrameWidth = 20;
constexpr int symbolTitleSpacing = 10;
constexpr int dividerInset = 4;

} // namespace

PanelCommandLook commandLook(PanelCommand command)
{
    switch (command) {
    case PanelCommand::pauseSyncing:
        return {QCoreApplication::translate("PanelCommand", "Pause Syncing"), QStringLiteral("pause.fill"), NamedColor::yellow};
    case PanelCommand::pauseForAnHour:
        return {QCoreApplication::translate("PanelCommand", "Pause for 1 Hour"), QStringLiteral("pause.fill"), NamedColor::yellow};
    case PanelCommand::pauseUntilTomorrow:
        return {QCoreApplication::translate("PanelCommand", "Pause Until Tomorrow"), QStringLiteral("pause.fill"), NamedColor::yellow};
    case PanelCommand::resumeSyncing:
        return {QCoreApplication::translate("PanelCommand", "Resume Syncing"), QStringLiteral("play.fill"), NamedColor::green};
    case PanelCommand::retrySync:
        return {QCoreApplication::translate("PanelCommand", "Retry Sync"), QStringLiteral("arrow.clockwise"), NamedColor::blue};
    case PanelCommand::restartService:
        return {QCoreApplication::translate("PanelCommand", "Restart Sync Service"), QStringLiteral("arrow.triangle.2.circlepath"), NamedColor::blue};
    case PanelCommand::openSyncFolder:
        return {QCoreApplication::translate("PanelCommand", "Open Sync Folder"), QStringLiteral("folder.fill"), NamedColor::accent};
    case PanelCommand::logOut:
        return {QCoreApplication::translate("PanelCommand", "Log Out"), QStringLiteral("rectangle.portrait.and.arrow.right"), NamedColor::secondaryLabel};
    case PanelCommand::logIn:
        return {QCoreApplication::translate("PanelCommand", "Log In to Tornel"), QStringLiteral("person.crop.circle.badge.plus"), NamedColor::accent};
    case PanelCommand::quit:
        return {QCoreApplication::translate("PanelCommand", "Quit Tornel"), QStringLiteral("xmark.circle"), NamedColor::secondaryLabel};
    }
    return {};
}

namespace {

QList<PanelCommand> commandsWhileRunning(SyncStatus status)
{
    switch (status) {
    case SyncStatus::loggedOut:
        return {PanelCommand::logIn};
    case SyncStatus::paused:
        return {PanelCommand::resumeSyncing, PanelCommand::openSyncFolder, PanelCommand::logOut};
    case SyncStatus::error:
        return {PanelCommand::retrySync, PanelCommand::openSyncFolder, PanelCommand::logOut};
    case SyncStatus::syncing:
    case SyncStatus::synced:
        break;
    }
    return {PanelCommand::pauseSyncing, PanelCommand::pauseForAnHour, PanelCommand::pauseUntilTomorrow,
            PanelCommand::openSyncFolder, PanelCommand::logOut};
}

} // namespace

QList<PanelCommand> commandsForStatus(SyncStatus status, bool serviceDown)
{
    QList<PanelCommand> commands = commandsWhileRunning(status);
    if (serviceDown) {
        commands.removeOne(PanelCommand::retrySync);
        commands.prepend(PanelCommand::restartService);
    }
    return commands;
}

CommandRow::CommandRow(PanelCommand command, QWidget *parent) : PaintedButton(parent), m_command(command)
{
    setText(commandLook(command).title);
    setFont(textStyleFont(TextStyle::body));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Focus from the keyboard only: a click leaves focus where it was.
    setFocusPolicy(Qt::TabFocus);
}

QRect CommandRow::labelRect() const
{
    return rect().adjusted(horizontalInset, verticalInset, -horizontalInset, -verticalInset);
}

QSize CommandRow::sizeHint() const
{
    const int labelHeight = qMax(fontMetrics().height(), symbolSize(font()));
    const int labelWidth = symbolFrameWidth + symbolTitleSpacing + fontMetrics().horizontalAdvance(text());
    return {labelWidth + 2 * horizontalInset, labelHeight + 2 * verticalInset};
}

QSize CommandRow::minimumSizeHint() const
{
    return sizeHint();
}

void CommandRow::keyPressEvent(QKeyEvent *event)
{
    if (ButtonChrome::isPlainReturn(event)) {
        click();
        return;
    }
    PaintedButton::keyPressEvent(event);
}

void CommandRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect label = labelRect();
    if (showsFocusRing())
        ButtonChrome::paintFocusRing(painter, QRectF(label).adjusted(-6, -3, 6, 3), palette());
    if (isDown())
        painter.setOpacity(ButtonChrome::pressedOpacity);

    const PanelCommandLook look = commandLook(m_command);
    const QRect symbolFrame(label.left(), label.top(), symbolFrameWidth, label.height());
    Symbols::paint(painter, symbolFrame, look.symbol, resolveColor(look.symbolColor, palette()), symbolSize(font()));

    const QRect titleRect = label.adjusted(symbolFrameWidth + symbolTitleSpacing, 0, 0, 0);
    painter.setPen(resolveColor(NamedColor::primaryLabel, palette()));
    painter.drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter,
                     fontMetrics().elidedText(text(), Qt::ElideRight, titleRect.width()));
}

bool CommandRow::hitButton(const QPoint &pos) const
{
    return labelRect().contains(pos);
}

CommandSection::CommandSection(QWidget *parent) : QWidget(parent), m_column(new QVBoxLayout(this))
{
    m_column->setContentsMargins(0, 0, 0, 8);
    m_column->setSpacing(0);
}

void CommandSection::refresh(const SyncState &state, bool serviceDown)
{
    const QList<PanelCommand> commands = commandsForStatus(state.status(), serviceDown);
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
        first->widget()->setFocus(Qt::OtherFocusReason);
}

void CommandSection::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!window()->focusWidget())
        focusFirstCommand();
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

#include "moc_command_section.cpp"
