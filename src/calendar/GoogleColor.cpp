#include "calendar/GoogleColor.h"

#include "platform/calendar/CalendarStore.h"

#include <QTextBoundaryFinder>

namespace {

qsizetype graphemeCount(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

// The text as a signed base-16 number: an optional sign, then one or more ASCII hex digits.
// QString::toLongLong would also take blanks and "0x".
std::optional<qint64> signedHex(QStringView text)
{
    bool negative = false;
    if (!text.isEmpty() && (text.front() == QLatin1Char('+') || text.front() == QLatin1Char('-'))) {
        negative = text.front() == QLatin1Char('-');
        text = text.mid(1);
    }
    if (text.isEmpty() || text.size() > 15)
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : text) {
        int digit = -1;
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digit = c.unicode() - '0';
        else if (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
            digit = c.unicode() - 'a' + 10;
        else if (c >= QLatin1Char('A') && c <= QLatin1Char('F'))
            digit = c.unicode() - 'A' + 10;
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + digit;
    }
    return negative ? -value : value;
}

} // namespace

QColor googleColor(const std::optional<QString>& hex)
{
    if (!hex || !hex->startsWith(QLatin1Char('#')) || graphemeCount(*hex) != 7)
        return CalendarStore::kFallbackColor;
    const std::optional<qint64> number = signedHex(QStringView(*hex).mid(1));
    if (!number)
        return CalendarStore::kFallbackColor;
    const quint64 bits = quint64(*number);
    return QColor(int((bits >> 16) & 0xff), int((bits >> 8) & 0xff), int(bits & 0xff));
}
