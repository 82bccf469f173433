#include "app/popover_host.h"

#include "app/popover_placement.h"
#include "app/popover_window_kind.h"
#include "views/menu_bar_view.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

PopoverHost::PopoverHost(SyncState &syncState, DaemonManager &daemonManager, PopoverToggle::SteadyClock clock,
                         QWidget *parent)
    : QWidget(parent), m_panel(new MenuBarView(syncState, daemonManager)), m_toggle(*this, std::move(clock))
{
    const PopoverWindowKind kind = popoverWindowKind(QGuiApplication::platformName());
    setWindowFlags(kind.flags);
    m_hidesOnDeactivation = kind.hidesOnDeactivation;
    setWindowTitle(QStringLiteral("Tornel"));
    setFixedSize(contentSize);
    setAutoFillBackground(true);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(m_panel);
    column->addStretch();

    connect(m_panel, &MenuBarView::syncFolderOpened, this, &PopoverHost::closePopover);
}

void PopoverHost::setTrayIconGeometrySource(std::function<QRect()> source)
{
    m_trayIconGeometry = std::move(source);
}

void PopoverHost::toggle()
{
    m_toggle.toggle();
}

void PopoverHost::open()
{
    m_toggle.open();
}

bool PopoverHost::isShown() const
{
    return isVisible();
}

void PopoverHost::showAnchored()
{
    const QRect trayIcon = m_trayIconGeometry ? m_trayIconGeometry() : QRect();
    const QPoint pointer = QCursor::pos();
    const QPoint anchor = trayIcon.isEmpty() ? pointer : trayIcon.center();
    QScreen *screen = QGuiApplication::screenAt(anchor);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen)
        setGeometry(popoverGeometry(contentSize, trayIcon, pointer, screen->availableGeometry()));
    show();
}

void PopoverHost::closePopover()
{
    hide();
}

void PopoverHost::activate()
{
    raise();
    activateWindow();
}

void PopoverHost::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        closePopover();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PopoverHost::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_toggle.surfaceHidden();
}

void PopoverHost::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && m_hidesOnDeactivation && isVisible() && !isActiveWindow())
        closePopover();
}

void PopoverHost::paintEvent(QPaintEvent *)
{
    // A hairline edge sets the frameless panel apart from what lies behind.
    QPainter painter(this);
    QColor edge = palette().color(QPalette::WindowText);
    edge.setAlphaF(0.25);
    painter.setPen(edge);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
