#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>
#include <optional>

class Settings;

// The language the user speaks in meetings. Stored under "transcriptionLanguage" as its raw
// value; read once when a recording starts and handed to both transcribers as a code.
class TranscriptionLanguage
{
public:
    enum Value { Auto, Vi, En };


    constexpr TranscriptionLanguage(Value value = Auto)
        : m_value(value)
    { }

    // Exact and case-sensitive: "auto", "vi" or "en"; anything else gives nothing.
    static std::optional<TranscriptionLanguage> fromRawValue(const QString& rawValue);
    // Every choice in the order the settings page lists them.
    static QList<TranscriptionLanguage> allCases();
    // The stored choice; a missing key or an unknown value means automatic detection.
    static TranscriptionLanguage current(const Settings& settings);

    constexpr Value value() const { return m_value; }
    QString rawValue() const;
    QString id() const { return rawValue(); }
    // The code sent with each transcription request; none lets the service detect it.
    std::optional<QString> code() const;

    friend constexpr bool operator==(TranscriptionLanguage a, TranscriptionLanguage b) = default;

private:
    Value m_value;
};

inline size_t qHash(TranscriptionLanguage language, size_t seed = 0)
{
    return qHash(language.rawValue(), seed);
}
