#include "ui/design/ThemeController.h"

#include "platform/Settings.h"
#include "platform/portal/DesktopAppearance.h"
#include "ui/design/Quillet.h"
#include "ui/design/QuilletStyle.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>
#include <QToolTip>

namespace {

struct Colors
{
    QColor window, base, alternateBase, button, text, tooltip;
    QColor light, midlight, mid, dark, shadow;
};

QPalette paletteFrom(const Colors& c)
{
    QPalette palette;
    for (const auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled }) {
        const bool disabled = group == QPalette::Disabled;
        const QColor text = disabled ? Quillet::withOpacity(c.text, 0.35) : c.text;
        palette.setColor(group, QPalette::Window, c.window);
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Base, c.base);
        palette.setColor(group, QPalette::AlternateBase, c.alternateBase);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::Button, c.button);
        palette.setColor(group, QPalette::ButtonText, text);
        palette.setColor(group, QPalette::BrightText, Qt::white);
        palette.setColor(group, QPalette::PlaceholderText, Quillet::withOpacity(c.text, 0.35));
        palette.setColor(group, QPalette::ToolTipBase, c.tooltip);
        palette.setColor(group, QPalette::ToolTipText, c.text);
        palette.setColor(group, QPalette::Light, c.light);
        palette.setColor(group, QPalette::Midlight, c.midlight);
        palette.setColor(group, QPalette::Mid, c.mid);
        palette.setColor(group, QPalette::Dark, c.dark);
        palette.setColor(group, QPalette::Shadow, c.shadow);
        palette.setColor(group, QPalette::Highlight, disabled ? c.mid : Quillet::accent());
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
        palette.setColor(group, QPalette::Link, Quillet::accent());
        palette.setColor(group, QPalette::LinkVisited, Quillet::accent().darker(115));
    }
    return palette;
}

// The desktop's palette with Quillet's accent wherever the palette names one, so that
// switches, selections and pills share one accent.
QPalette withQuilletAccent(QPalette palette)
{
    for (const auto group : { QPalette::Active, QPalette::Inactive }) {
        palette.setColor(group, QPalette::Highlight, Quillet::accent());
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
        palette.setColor(group, QPalette::Link, Quillet::accent());
        palette.setColor(group, QPalette::LinkVisited, Quillet::accent().darker(115));
    }
    return palette;
}

QString fusion()
{
    return QStringLiteral("Fusion");
}

} // namespace

ThemeController::ThemeController(Settings& settings, DesktopAppearance* desktop, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_desktop(desktop)
    , m_startupStyle(baseStyleName())
    , m_startupPalette(withQuilletAccent(QApplication::palette()))
{
    connect(&m_settings, &Settings::changed, this, [this](const QString& key) {
        if (SettingsKeys::appTheme.is(key))
            apply();
    });
    if (m_desktop)
        connect(m_desktop, &DesktopAppearance::colorSchemeChanged, this, &ThemeController::apply);
    apply();
}

ThemeController::Appearance ThemeController::appearanceFor(const QString& setting)
{
    if (setting == QLatin1String("light"))
        return Appearance::light;
    if (setting == QLatin1String("dark"))
        return Appearance::dark;
    return Appearance::system;
}

QPalette ThemeController::lightPalette()
{
    return paletteFrom({
        .window = QColor(0xf6, 0xf6, 0xf5),
        .base = QColor(0xff, 0xff, 0xff),
        .alternateBase = QColor(0xf1, 0xf1, 0xf0),
        .button = QColor(0xfb, 0xfb, 0xfa),
        .text = QColor(0x1d, 0x1d, 0x1f),
        .tooltip = QColor(0xff, 0xff, 0xff),
        .light = QColor(0xff, 0xff, 0xff),
        .midlight = QColor(0xe9, 0xe9, 0xe8),
        .mid = QColor(0xc8, 0xc8, 0xc6),
        .dark = QColor(0xa0, 0xa0, 0x9e),
        .shadow = QColor(0x6e, 0x6e, 0x6c),
    });
}

QPalette ThemeController::darkPalette()
{
    return paletteFrom({
        .window = QColor(0x23, 0x23, 0x24),
        .base = QColor(0x1b, 0x1b, 0x1c),
        .alternateBase = QColor(0x2a, 0x2a, 0x2b),
        .button = QColor(0x2f, 0x2f, 0x31),
        .text = QColor(0xec, 0xec, 0xec),
        .tooltip = QColor(0x33, 0x33, 0x35),
        .light = QColor(0x46, 0x46, 0x48),
        .midlight = QColor(0x3a, 0x3a, 0x3c),
        .mid = QColor(0x30, 0x30, 0x32),
        .dark = QColor(0x18, 0x18, 0x19),
        .shadow = QColor(0x0a, 0x0a, 0x0a),
    });
}

QString ThemeController::baseStyleName()
{
    const auto* style = qobject_cast<const QuilletStyle*>(QApplication::style());
    return (style ? style->baseStyle() : QApplication::style())->name();
}

void ThemeController::useStyle(const QString& name)
{
    if (qobject_cast<const QuilletStyle*>(QApplication::style())
        && baseStyleName().compare(name, Qt::CaseInsensitive) == 0)
        return;
    QApplication::setStyle(new QuilletStyle(QStyleFactory::create(name)));
}

void ThemeController::apply()
{
    const Appearance appearance = appearanceFor(m_settings.get(SettingsKeys::appTheme));
    QPalette palette;
    switch (appearance) {
    case Appearance::light:
        useStyle(fusion());
        palette = lightPalette();
        break;
    case Appearance::dark:
        useStyle(fusion());
        palette = darkPalette();
        break;
    case Appearance::system: {
        using Scheme = DesktopAppearance::ColorScheme;
        const Scheme scheme = m_desktop ? m_desktop->colorScheme() : Scheme::noPreference;
        const bool startedDark = m_startupPalette.color(QPalette::Window).lightness() < 128;
        if (scheme == Scheme::dark && !startedDark) {
            useStyle(fusion());
            palette = darkPalette();
        } else if (scheme == Scheme::light && startedDark) {
            useStyle(fusion());
            palette = lightPalette();
        } else {
            useStyle(m_startupStyle);
            palette = m_startupPalette;
        }
        break;
    }
    }
    // Setting the style resets the palette to the style's own, so the palette comes second.
    QApplication::setPalette(palette);
    // Tool tips keep the palette they were first given unless told.
    QToolTip::setPalette(palette);
    if (appearance != m_appearance) {
        m_appearance = appearance;
        emit appearanceChanged();
    }
}
