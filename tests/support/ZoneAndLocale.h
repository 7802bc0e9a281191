#pragma once

// The time zone and the locale a test reads dates and texts in, for the whole program or for
// the length of one scope. Qt's local time goes through the C library, which takes a changed
// TZ at tzset().

#include <QByteArray>
#include <QLocale>
#include <QtGlobal>
#include <ctime>

namespace ZoneAndLocale {

inline void useTimeZone(const QByteArray& zone)
{
    qputenv("TZ", zone);
    tzset();
}

// The locale most tests compare their texts in.
inline QLocale english()
{
    return QLocale(QLocale::English, QLocale::UnitedStates);
}

// UTC and American English: what tests of dates and their texts assume unless they say.
inline void useUtcAndEnglish()
{
    useTimeZone("UTC");
    QLocale::setDefault(english());
}

// Sets the process's time zone for as long as it lives; an empty zone leaves it as it is.
class ZoneScope final
{
public:
    explicit ZoneScope(const QByteArray& zone)
        : m_before(qgetenv("TZ"))
    {
        if (!zone.isEmpty())
            useTimeZone(zone);
    }
    ~ZoneScope() { useTimeZone(m_before); }
    Q_DISABLE_COPY_MOVE(ZoneScope)

private:
    QByteArray m_before;
};

// The user's locale for as long as it lives.
class LocaleScope final
{
public:
    explicit LocaleScope(const QLocale& locale) { QLocale::setDefault(locale); }
    ~LocaleScope() { QLocale::setDefault(m_previous); }
    Q_DISABLE_COPY_MOVE(LocaleScope)

private:
    QLocale m_previous;
};

} // namespace ZoneAndLocale
