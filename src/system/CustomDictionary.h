#pragma once

#include "platform/Settings.h"

#include <QString>
#include <QStringList>
#include <optional>

// The user's custom vocabulary, stored as the list "customDictionary" in the settings, in the
// order the words were added. Sent with every transcription request as a spelling hint.
namespace CustomDictionary {


// The stored list (empty when the key is missing or not a list of strings).
QStringList words(const Settings& settings);

// "Custom vocabulary: a, b. " from the non-empty words; nothing when there are none (the
// transcription request then sends no prompt field).
std::optional<QString> promptFragment(const Settings& settings);

// Trims the word and appends it unless it is empty or already stored (case-sensitive;
// canonically equivalent Unicode strings count as equal). True when the list changed.
bool add(Settings& settings, const QString& word);

// Removes the stored entries equal to the word (same equality as add()).
void remove(Settings& settings, const QString& word);

// Removes the entry at a position of the stored list; a position outside it is ignored.
void removeAt(Settings& settings, int index);

} // namespace CustomDictionary
