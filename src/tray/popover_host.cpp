#include "tray/popover_host.h"

#include "tray/app_activation.h"
#include "tray/popover_placement.h"
#include "views/accessible_role.h"
#include "views/menu_bar_view.h"

#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include <utility>

namespace {

// A window of its own: a title, a close button and a minimise button; no
// maximise button for a panel of fixed size.
constexpr Qt::WindowFlags windowedFlags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
    | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;

} // namespace

bool isTriggerDebounced(std::chrono::steady_clock::time_point now,
                        std::optional<std::chrono::steady_clock::time_point> hiddenAt)
{
    return hiddenAt && now >= *hiddenAt && now - *hiddenAt < trayTriggerDebounce;
}

PopoverWindowKind popoverWindowKind(const QString &platformName, bool placedByCompositor)
{
    if (platformName.startsWith(QLatin1String("wayland")))
        return {placedByCompositor ? Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint : windowedFlags,
                true};
    // Not Qt::ToolTip: a tooltip window never takes keyboard focus.
    return {Qt::Popup | Qt::FramelessWindowHint, false};
}

PopoverHost::PopoverHost(SyncState &syncState, DaemonManager &daemonManager, SteadyClock clock, QWidget *parent)
    : QWidget(parent), m_syncState(syncState), m_daemonManager(daemonManager), m_clock(std::move(clock))
{
    const PopoverWindowKind kind = popoverWindowKind(QGuiApplication::platformName());
    setWindowFlags(kind.flags);
    m_popupFlags = kind.flags;
    m_hidesOnDeactivation = kind.hidesOnDeactivation;
    setWindowTitle(QStringLiteral("Tornel"));
    setAccessibleRole(this, QAccessible::Window);
    setFixedSize(contentSize);
    setAutoFillBackground(true);

    m_column = new QVBoxLayout(this);
    m_column->setContentsMargins(0, 0, 0, 0);
    m_column->setSpacing(0);
    m_column->addStretch();

    // Qt tells screen readers of no focus when a popup window gets the
    // keyboard (its focus widget kept focus all along): say where focus is
    // once the panel has it, so they name the control there.
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow *window) {
        if (window && window == windowHandle() && windowType() == Qt::Popup && focusWidget()) {
            QAccessibleEvent focus(focusWidget(), QAccessible::Focus);
            QAccessible::updateAccessibility(&focus);
        }
    });
}

MenuBarView &PopoverHost::panel()
{
    if (!m_panel) {
        m_panel = new MenuBarView(m_syncState, m_daemonManager);
        m_column->insertWidget(0, m_panel);
        connect(m_panel, &MenuBarView::syncFolderOpened, this, &QWidget::hide);
    }
    return *m_panel;
}

void PopoverHost::setTrayIconGeometrySource(std::function<QRect()> source)
{
    m_trayIconGeometry = std::move(source);
}

void PopoverHost::toggle()
{
    if (isVisible()) {
        hide();
        return;
    }
    if (isTriggerDebounced(m_clock(), m_hiddenAt))
        return;
    const QRect trayIcon = m_trayIconGeometry ? m_trayIconGeometry() : QRect();
    // Asking the X server where the pointer is costs a round trip.
    m_iconSeenAt = trayIcon.isEmpty() ? QRect(QCursor::pos(), QSize(1, 1)) : trayIcon;
    openAt(true);
}

void PopoverHost::open()
{
    openAt(false);
}

void PopoverHost::openAt(bool byClick)
{
    AppActivation::activate();
    if (!isVisible())
        showAnchored(byClick);
    // So the panel's fields take typing at once.
    raise();
    activateWindow();
}

void PopoverHost::setWindowed(bool windowed)
{
    m_windowed = windowed;
}

QRect PopoverHost::iconAnchor() const
{
    const QRect trayIcon = m_trayIconGeometry ? m_trayIconGeometry() : QRect();
    return trayIcon.isEmpty() ? m_iconSeenAt : trayIcon;
}

void PopoverHost::setPlacedByCompositor(bool placed)
{
    m_popupFlags = popoverWindowKind(QGuiApplication::platformName(), placed).flags;
    if (!m_madeAsWindow && windowFlags() != m_popupFlags)
        setWindowFlags(m_popupFlags);
}

void PopoverHost::showAnchored(bool byClick)
{
    panel();
    if (m_windowed != m_madeAsWindow) {
        m_madeAsWindow = m_windowed;
        setWindowFlags(m_windowed ? windowedFlags : m_popupFlags);
        // The window manager places the window, not where the popup last was.
        setAttribute(Qt::WA_Moved, false);
    }
    if (m_madeAsWindow) {
        show();
        return;
    }
    // A click has just asked the tray where the icon is.
    QRect anchor = byClick ? m_iconSeenAt : iconAnchor();
    QScreen *screen = anchor.isEmpty() ? nullptr : QGuiApplication::screenAt(anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        if (anchor.isEmpty())
            anchor = edgeAnchor(screen->geometry(), screen->availableGeometry());
        setGeometry(popoverGeometry(contentSize, anchor, screen->availableGeometry()));
    }
    show();
    emit shownAtIcon(byClick);
}

void PopoverHost::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PopoverHost::closeEvent(QCloseEvent *event)
{
    // Qt closes a popup on a click outside it, and an accepted close destroys
    // the native window, which the next opening would have to make anew.
    event->ignore();
    hide();
}

void PopoverHost::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_hiddenAt = m_clock();
}

void PopoverHost::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && m_hidesOnDeactivation && !m_madeAsWindow && isVisible()
        && !isActiveWindow())
        hide();
}

void PopoverHost::paintEvent(QPaintEvent *)
{
    // A hairline edge sets the frameless panel apart from what lies behind.
    // Four thin fills rather than an outlined rectangle: Qt rasterises an
    // outline as large as the window on its thread pool, at every opening.
    QPainter painter(this);
    const QColor edge = panelEdgeColor(palette());
    const QRect r = rect();
    for (const QRect &side :
         {QRect(r.left(), r.top(), r.width(), 1), QRect(r.left(), r.bottom(), r.width(), 1),
          QRect(r.left(), r.top() + 1, 1, r.height() - 2), QRect(r.right(), r.top() + 1, 1, r.height() - 2)})
        painter.fillRect(side, edge);
}

#include "moc_popover_host.cpp"
