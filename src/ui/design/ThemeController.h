#pragma once

#include <QObject>
#include <QPalette>

class Settings;

// Applies the "appTheme" setting to the whole application, at once whenever it changes.
// "light" and "dark" are the Fusion style with Quillet's own light or dark palette; any other
// value ("system", "", unknown) is the style and palette the application started with, which
// are taken when the controller is made, with Quillet's accent as the palette's highlight.
// Every style is wrapped in QuilletStyle. Make it after QApplication and before the windows.
class ThemeController final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ThemeController)

public:
    enum class Appearance { system, light, dark };
    Q_ENUM(Appearance)

    explicit ThemeController(Settings& settings, QObject* parent = nullptr);

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
    QString m_startupStyle;
    QPalette m_startupPalette;
    Appearance m_appearance = Appearance::system;
};
