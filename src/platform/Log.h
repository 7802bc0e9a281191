#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>
#include <functional>
#include <initializer_list>
#include <mutex>

// The one sink for the system's log lines ("[Quillet] ..."). Lines go to stderr and to the
// system log; tests can capture them with LogCapture. Safe to call from any thread.
namespace Log {

// Writes one finished line.
void write(const QString& line);

// printf-style formatting as the log lines are written: "%@" and "%s" take any argument,
// "%d", "%i", "%ld", "%lld", "%u", "%zu" integers, "%%" a percent sign; "%f", "%.Nf", "%e" and
// "%g" numbers are written exactly as printf writes them (see NumberFormat).
QString format(const char* pattern, std::initializer_list<QString> arguments);

inline QString arg(const QString& v)
{
    return v;
}
inline QString arg(const char* v)
{
    return QString::fromUtf8(v);
}
inline QString arg(const QByteArray& v)
{
    return QString::fromUtf8(v);
}
inline QString arg(const QUuid& v)
{
    return v.toString(QUuid::WithoutBraces).toUpper();
}
inline QString arg(const QUrl& v)
{
    return v.toString();
}
inline QString arg(bool v)
{
    return v ? QStringLiteral("true") : QStringLiteral("false");
}
// The shortest text that reads back as the same double, so "%.Nf" sees the exact value.
inline QString arg(double v)
{
    return QString::number(v, 'g', QLocale::FloatingPointShortest);
}
template <typename T>
requires std::is_integral_v<T>
inline QString arg(T v)
{
    return QString::number(v);
}

template <typename... Args> void line(const char* pattern, const Args&... args)
{
    write(format(pattern, { arg(args)... }));
}

} // namespace Log

// Collects every line written while it exists (tests read acceptance log lines with it).
class LogCapture final
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const;
    bool contains(const QString& line) const;
    bool containsPart(const QString& fragment) const;
    void clear();

private:
    friend void Log::write(const QString& line);
    void append(const QString& line);

    mutable std::mutex m_mutex;
    QStringList m_lines;
};
