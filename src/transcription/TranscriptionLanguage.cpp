#include "transcription/TranscriptionLanguage.h"

#include "platform/Settings.h"

std::optional<TranscriptionLanguage> TranscriptionLanguage::fromRawValue(const QString& rawValue)
{
    for (const TranscriptionLanguage language : allCases()) {
        if (language.rawValue() == rawValue)
            return language;
    }
    return std::nullopt;
}

QList<TranscriptionLanguage> TranscriptionLanguage::allCases()
{
    return { Auto, Vi, En };
}

TranscriptionLanguage TranscriptionLanguage::current(const Settings& settings)
{
    const std::optional<QString> stored = settings.stored(SettingsKeys::transcriptionLanguage);
    if (!stored)
        return Auto;
    return fromRawValue(*stored).value_or(Auto);
}

QString TranscriptionLanguage::rawValue() const
{
    switch (m_value) {
    case Vi:
        return QStringLiteral("vi");
    case En:
        return QStringLiteral("en");
    case Auto:
        break;
    }
    return QStringLiteral("auto");
}

std::optional<QString> TranscriptionLanguage::code() const
{
    if (m_value == Auto)
        return std::nullopt;
    return rawValue();
}
