#pragma once

#include <QString>
#include <optional>

// Some models write out their reasoning before the answer, inside a think block or as prose
// with a recognisable opening. This removes it before text is stored as a summary or title.
namespace ReasoningStripper {

// Removes the first think block (case-insensitive tags) and trims the rest. The closing tag
// is looked for only after the opening tag; when none follows, the block is unclosed and the
// text from the opening tag on is dropped. A text without an opening tag comes back as is.
QString withoutThinkTags(const QString& text);

// True when the trimmed text opens with one of the known reasoning phrases (within its first
// 60 characters, compared in lower case).
bool startsWithReasoning(const QString& text);

// A single clean title line from model output, or nothing when it is empty or only reasoning.
std::optional<QString> title(const QString& text);

} // namespace ReasoningStripper
