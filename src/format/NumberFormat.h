#pragma once

#include <QString>
#include <optional>
#include <string_view>

// Numbers written exactly as C's printf writes them in the "C" locale: the same digits, and a
// value half-way between two results rounded to the even one ("%.0f" of 0.5 is "0", of 2.5 is
// "2"; "%.2f" of 0.125 is "0.12"). The user's locale never changes the decimal point.
namespace NumberFormat {

// "%.<decimals>f".
QString fixed(double value, int decimals);

// One printf conversion of a double: '%', then any of the flags "-+ 0", a width, a precision,
// and one of "fFeEgG" (for example "%.2f", "%+8.3e", "%g"). Nothing when `conversion` is not
// exactly one such conversion.
std::optional<QString> printf(std::string_view conversion, double value);

} // namespace NumberFormat
