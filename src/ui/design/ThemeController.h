#pragma once

#include <QObject>
#include <QPalette>

class DesktopAppearance;
class Settings;

// Applies the "appTheme" setting to the whole application, at once whenever it changes.
// "light" and "dark" are the Fusion style with Quillet's own light or dark palette; any other
// value ("system", "", unknown) follows the desktop: the style and palette the application
// started with (taken when the controller is made, with Quillet's accent as the palette's
// highlight), unless the desktop's colour scheme prefers the other brightness, which then
// gives Quillet's own palette of that brightness. A desktop without a preference (or none
// given) leaves the startup look. Both follow changes live. Every style is wrapped in
// QuilletStyle. Make it after QApplication and before the windows.
class ThemeController final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ThemeController)

public:
    enum class Appearance { system, light, dark };
    Q_ENUM(Appearance)

    // desktop: may be null (no preference); must outlive the controller.
    explicit ThemeController(Settings& settings, DesktopAppearance* desktop = nullptr, QObject* parent = nullptr);

    Appearance appearance() const { return m_appearance; }

    static Appearance appearanceFor(const QString& setting);
    static QPalette lightPalette();
    static QPalette darkPalette();
    // The style under Quillet's own touches (QuilletStyle): "Fusion" or the desktop's.
    static QString baseStyleName();

signals:
    void appearanceChanged();

private:
    void apply();
    static void useStyle(const QString& name);

    Settings& m_settings;
    DesktopAppearance* m_desktop;
    QString m_startupStyle;
    QPalette m_startupPalette;
    Appearance m_appearance = Appearance::system;
};
