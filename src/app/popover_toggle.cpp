#include "app/popover_toggle.h"

#include "app/popover_surface.h"

bool isTriggerDebounced(std::chrono::steady_clock::time_point now,
                        std::optional<std::chrono::steady_clock::time_point> hiddenAt)
{
    return hiddenAt && now >= *hiddenAt && now - *hiddenAt < trayTriggerDebounce;
}

PopoverToggle::PopoverToggle(PopoverSurface &surface, SteadyClock clock)
    : m_surface(surface), m_clock(std::move(clock))
{
}

void PopoverToggle::toggle()
{
    if (m_surface.isShown()) {
        m_surface.closePopover();
        return;
    }
    if (isTriggerDebounced(m_clock(), m_hiddenAt))
        return;
    open();
}

void PopoverToggle::open()
{
    if (!m_surface.isShown())
        m_surface.showAnchored();
    m_surface.activate();
}

void PopoverToggle::surfaceHidden()
{
    m_hiddenAt = m_clock();
}
