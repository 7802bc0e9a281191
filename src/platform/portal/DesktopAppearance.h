#pragma once

#include <QDBusConnection>
#include <QObject>
#include <chrono>

class QDBusMessage;
class QDBusVariant;

// The desktop's preferred colour scheme: what its dark-style switch sets (GNOME's and KDE's
// alike publish it through the desktop portal).
class DesktopAppearance : public QObject
{
    Q_OBJECT

public:
    enum class ColorScheme { noPreference, dark, light };
    Q_ENUM(ColorScheme)

    using QObject::QObject;

    virtual ColorScheme colorScheme() const = 0;

signals:
    void colorSchemeChanged();
};

// The setting "color-scheme" of "org.freedesktop.appearance", read through the desktop portal's
// Settings interface (ReadOne, or Read on portals older than it) and followed through its
// SettingChanged signal. The first answer is waited for when the object is made, for at most
// firstAnswerLimit, so that the first window opens in the right colours; a portal that holds
// its name but does not answer in time costs no more than that, and its later answer still
// counts. Without a portal, or until it answers, there is no preference.
class PortalAppearance final : public DesktopAppearance
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PortalAppearance)

public:
    static inline const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
    static inline const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
    static inline const QString kNamespace = QStringLiteral("org.freedesktop.appearance");
    static inline const QString kKey = QStringLiteral("color-scheme");
    static constexpr std::chrono::milliseconds kFirstAnswerLimit { 500 };

    explicit PortalAppearance(QDBusConnection bus = QDBusConnection::sessionBus(),
        std::chrono::milliseconds firstAnswerLimit = kFirstAnswerLimit, QObject* parent = nullptr);

    ColorScheme colorScheme() const override { return m_scheme; }

private slots:
    void settingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value);

private:
    QDBusMessage readCall(const QString& method) const;
    void readLater(const QString& method);
    void take(const QVariant& value);

    QDBusConnection m_bus;
    ColorScheme m_scheme = ColorScheme::noPreference;
    // A change signalled while a late answer is on its way is newer than that answer.
    bool m_changed = false;
};
