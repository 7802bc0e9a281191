#pragma once

#include <QString>
#include <QStringView>

// What a character reference of model text stands for: "&amp;" is "&", "&#39;" and "&#x27;"
// are "'". Names are matched exactly, as HTML does ("&Eacute;" is not "&eacute;").
namespace CharacterReferences {

// The text of a named reference (the name without "&" and ";"), one of every name HTML5
// defines, or a null string when the name is not one of them.
QString named(QStringView name);

// The character of a numeric reference; U+FFFD for zero, a surrogate or past U+10FFFF, which
// no text may hold.
QString numeric(char32_t code);

} // namespace CharacterReferences
