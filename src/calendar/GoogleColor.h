#pragma once

#include <QColor>
#include <QString>
#include <optional>

// The colour of a Google calendar from its "backgroundColor": "#" and six characters (seven
// characters as a reader sees them) read as a signed base-16 number, one "+" or "-" allowed in
// front; red, green and blue are bits 16-23, 8-15 and 0-7 of the number's 64-bit two's
// complement. Anything else (absent, another length or prefix, not a number) gives the grey of
// a calendar without a colour.
QColor googleColor(const std::optional<QString>& hex);
