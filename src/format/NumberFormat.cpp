#include "format/NumberFormat.h"

#include <charconv>
#include <cmath>
#include <string>

namespace {

struct Conversion
{
    bool leftAlign = false;
    bool zeroPad = false;
    char positiveSign = 0; // '+', ' ' or none
    int width = 0;
    int precision = 6;
    char type = 'f';
};

std::optional<Conversion> parse(std::string_view text)
{
    if (text.size() < 2 || text.front() != '%')
        return std::nullopt;
    Conversion c;
    std::size_t i = 1;
    for (; i < text.size(); ++i) {
        const char flag = text[i];
        if (flag == '-')
            c.leftAlign = true;
        else if (flag == '0')
            c.zeroPad = true;
        else if (flag == '+')
            c.positiveSign = '+';
        else if (flag == ' ' && c.positiveSign != '+')
            c.positiveSign = ' ';
        else if (flag != ' ')
            break;
    }
    const auto number = [&](int* out) {
        int value = 0;
        const std::size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && value < 10000)
            value = value * 10 + (text[i++] - '0');
        *out = value;
        return i > start;
    };
    number(&c.width);
    if (i < text.size() && text[i] == '.') {
        ++i;
        number(&c.precision); // "%.f" is precision 0, as in C
    }
    if (i < text.size() && text[i] == 'l') // "%lf" is a double too
        ++i;
    if (i + 1 != text.size() || std::string_view("fFeEgG").find(text[i]) == std::string_view::npos)
        return std::nullopt;
    c.type = text[i];
    return c;
}

// The digits of |value| (no sign) as the conversion asks, from std::to_chars, which is
// specified to give printf's own result in the "C" locale.
std::string magnitude(double value, const Conversion& c)
{
    const bool upper = c.type == 'F' || c.type == 'E' || c.type == 'G';
    if (!std::isfinite(value)) {
        std::string text = std::isnan(value) ? "nan" : "inf";
        if (upper)
            for (char& ch : text)
                ch = char(ch - 'a' + 'A');
        return text;
    }
    const char lower = char(c.type | 0x20);
    const std::chars_format format = lower == 'f' ? std::chars_format::fixed
        : lower == 'e'                            ? std::chars_format::scientific
                                                  : std::chars_format::general;
    std::string buffer(std::size_t(330 + c.precision), '\0');
    const auto result
        = std::to_chars(buffer.data(), buffer.data() + buffer.size(), std::fabs(value), format, c.precision);
    buffer.resize(std::size_t(result.ptr - buffer.data()));
    if (upper)
        for (char& ch : buffer)
            if (ch == 'e')
                ch = 'E';
    return buffer;
}

} // namespace

namespace NumberFormat {

QString fixed(double value, int decimals)
{
    return *printf("%." + std::to_string(std::max(decimals, 0)) + "f", value);
}

std::optional<QString> printf(std::string_view conversion, double value)
{
    const std::optional<Conversion> c = parse(conversion);
    if (!c)
        return std::nullopt;
    std::string sign;
    if (std::signbit(value) && !std::isnan(value))
        sign = "-";
    else if (c->positiveSign)
        sign = std::string(1, c->positiveSign);
    const std::string digits = magnitude(value, *c);
    const std::size_t length = sign.size() + digits.size();
    const std::size_t padding = std::size_t(c->width) > length ? std::size_t(c->width) - length : 0;
    std::string text;
    if (c->leftAlign)
        text = sign + digits + std::string(padding, ' ');
    else if (c->zeroPad && std::isfinite(value))
        text = sign + std::string(padding, '0') + digits;
    else
        text = std::string(padding, ' ') + sign + digits;
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

} // namespace NumberFormat
