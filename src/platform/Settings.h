#pragma once

#include <QObject>
#include <QSettings>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <memory>
#include <mutex>
#include <optional>

// The user-defaults store: an INI file in the user's config folder, under the folder named
// by the app identity (<config>/<container name>/settings.ini). Registered defaults answer
// for keys that were never written and are never written back. Getters restore the types
// that the INI format loses (a bool reads back as "true", a one-element list as a string):
// a stored value that cannot be read as the asked type reads as the default.
// Reads and writes are safe from any thread; changed() is emitted on the writer's thread.
class Settings final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Settings)

public:
    explicit Settings(const QString& filePath, QObject* parent = nullptr);
    ~Settings() override;

    // <GenericConfigLocation>/<container name>/settings.ini
    static QString defaultFilePath();

    QString filePath() const;

    void registerDefaults(const QVariantMap& defaults);

    // True when a value was written for the key (registered defaults do not count).
    bool contains(const QString& key) const;

    // The stored value, else the registered default, else an invalid QVariant.
    QVariant value(const QString& key) const;

    bool boolValue(const QString& key, bool fallback = false) const;
    QString stringValue(const QString& key, const QString& fallback = {}) const;
    std::optional<QString> optionalString(const QString& key) const;
    QStringList stringListValue(const QString& key, const QStringList& fallback = {}) const;
    qint64 integerValue(const QString& key, qint64 fallback = 0) const;
    double doubleValue(const QString& key, double fallback = 0) const;

    void setValue(const QString& key, const QVariant& value);
    void remove(const QString& key);
    // Writes pending changes to disk now (they are also written by QSettings on its own).
    void sync();

signals:
    void changed(const QString& key);

private:
    QVariant storedOrDefault(const QString& key, bool* isStored) const;
    // The stored value as convert() reads it; one it cannot read reads as the registered default.
    template <typename Convert>
    auto converted(const QString& key, Convert convert) const -> decltype(convert(QVariant()));

    mutable std::mutex m_mutex;
    std::unique_ptr<QSettings> m_settings;
    QVariantMap m_defaults;
};
