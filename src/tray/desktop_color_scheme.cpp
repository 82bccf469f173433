#include "tray/desktop_color_scheme.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>

namespace {

// Sets the window's palette before each showing; a filter on that one window,
// so nothing runs while the panel is closed.
class SchemeFollower : public QObject {
public:
    explicit SchemeFollower(QWidget &window) : QObject(&window), m_window(window)
    {
        window.installEventFilter(this);
        connect(&DesktopColorScheme::shared(), &DesktopColorScheme::changed, this, &SchemeFollower::apply);
        apply();
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            apply();
        return false;
    }

private:
    void apply()
    {
        const ColorScheme scheme = panelScheme(DesktopColorScheme::shared().preference(), QApplication::palette());
        if (colorSchemeOf(m_window.palette()) != scheme || !m_window.testAttribute(Qt::WA_SetPalette))
            m_window.setPalette(panelPalette(scheme));
    }

    QWidget &m_window;
};

} // namespace

DesktopColorScheme &DesktopColorScheme::shared()
{
    // Owned by the application, so it goes with the bus connection it listens on.
    static QPointer<DesktopColorScheme> scheme;
    if (!scheme)
        scheme = new DesktopColorScheme(QCoreApplication::instance());
    return *scheme;
}

void DesktopColorScheme::take(SchemePreference preference)
{
    if (preference == m_preference)
        return;
    m_preference = preference;
    emit changed();
}

ColorScheme panelScheme(SchemePreference preference, const QPalette &desktopPalette)
{
    switch (preference) {
    case SchemePreference::dark:
        return ColorScheme::dark;
    case SchemePreference::light:
        return ColorScheme::light;
    case SchemePreference::none:
        break;
    }
    return colorSchemeOf(desktopPalette);
}

void followDesktopScheme(QWidget &window)
{
    new SchemeFollower(window);
}

#include "moc_desktop_color_scheme.cpp"
