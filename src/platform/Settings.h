#pragma once

#include "platform/SettingsKeys.h"

#include <QObject>
#include <QSettings>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <memory>
#include <mutex>
#include <optional>

// The user-defaults store: an INI file in the user's config folder, under the folder named
// by the app identity (<config>/<container name>/settings.ini). Values are read and written
// through the typed keys of SettingsKeys.h; a key that was never written reads as its default,
// and defaults are never written back. Reads restore the types that the INI format loses (a
// bool reads back as "true", a one-element list as a string): a stored value that cannot be
// read as the key's type reads as the default.
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

    // Makes the raw value() of the key answer its default while nothing is stored. Typed reads
    // need no registration.
    template <typename T> void registerDefault(const SettingsKey<T>& key);

    // True when a value was written for the key (defaults do not count).
    bool contains(const QString& key) const;
    template <typename T> bool contains(const SettingsKey<T>& key) const { return contains(key.key()); }

    // The stored value, else the registered default, else an invalid QVariant.
    QVariant value(const QString& key) const;

    // The stored value read as the key's type, else the key's default.
    template <typename T> T get(const SettingsKey<T>& key) const;
    // The stored value read as the key's type; none when nothing readable is stored.
    template <typename T> std::optional<T> stored(const SettingsKey<T>& key) const;
    template <typename T> void set(const SettingsKey<T>& key, const T& value);

    // Writes any value, typed or not; tests use it to store what a typed read must refuse.
    void setValue(const QString& key, const QVariant& value);
    void remove(const QString& key);
    template <typename T> void remove(const SettingsKey<T>& key) { remove(key.key()); }
    // Writes pending changes to disk now (they are also written by QSettings on its own).
    void sync();

signals:
    void changed(const QString& key);

private:
    QVariant storedValue(const QString& key, bool* isStored) const;

    mutable std::mutex m_mutex;
    std::unique_ptr<QSettings> m_settings;
    QVariantMap m_defaults;
};
