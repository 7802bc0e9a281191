#include "system/CustomDictionary.h"

namespace {

bool sameWord(const QString& a, const QString& b)
{
    return a == b || a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}

void store(Settings& settings, const QStringList& words)
{
    settings.set(SettingsKeys::customDictionary, words);
}

} // namespace

namespace CustomDictionary {

QStringList words(const Settings& settings)
{
    return settings.get(SettingsKeys::customDictionary);
}

std::optional<QString> promptFragment(const Settings& settings)
{
    QStringList nonEmpty = words(settings);
    nonEmpty.removeAll(QString());
    if (nonEmpty.isEmpty())
        return std::nullopt;
    return QStringLiteral("Custom vocabulary: ") + nonEmpty.join(QStringLiteral(", ")) + QStringLiteral(". ");
}

bool add(Settings& settings, const QString& word)
{
    const QString trimmed = word.trimmed();
    if (trimmed.isEmpty())
        return false;
    QStringList list = words(settings);
    for (const QString& existing : std::as_const(list)) {
        if (sameWord(existing, trimmed))
            return false;
    }
    list.append(trimmed);
    store(settings, list);
    return true;
}

void remove(Settings& settings, const QString& word)
{
    QStringList list = words(settings);
    const qsizetype removed = list.removeIf([&](const QString& existing) { return sameWord(existing, word); });
    if (removed > 0)
        store(settings, list);
}

void removeAt(Settings& settings, int index)
{
    QStringList list = words(settings);
    if (index < 0 || index >= list.size())
        return;
    list.removeAt(index);
    store(settings, list);
}

} // namespace CustomDictionary
