#include "platform/Log.h"

#include "format/NumberFormat.h"

#include <QtGlobal>
#include <cstdio>
#include <syslog.h>
#include <vector>

namespace {

std::mutex& captureMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::vector<LogCapture*>& captures()
{
    static std::vector<LogCapture*> list;
    return list;
}

// Reads one conversion after '%' (flags, width, precision, length) and returns its end.
int conversionEnd(const char* pattern, int start, char* type)
{
    int i = start;
    while (pattern[i] == '-' || pattern[i] == '+' || pattern[i] == ' ' || pattern[i] == '0' || pattern[i] == '#')
        ++i;
    while ((pattern[i] >= '0' && pattern[i] <= '9') || pattern[i] == '.')
        ++i;
    while (pattern[i] == 'l' || pattern[i] == 'z' || pattern[i] == 'h' || pattern[i] == 'q')
        ++i;
    *type = pattern[i];
    return pattern[i] ? i + 1 : i;
}

} // namespace

namespace Log {

QString format(const char* pattern, std::initializer_list<QString> arguments)
{
    QString out;
    auto next = arguments.begin();
    QByteArray literal;
    auto flushLiteral = [&] {
        out += QString::fromUtf8(literal);
        literal.clear();
    };
    for (int i = 0; pattern[i];) {
        if (pattern[i] != '%') {
            literal += pattern[i++];
            continue;
        }
        if (pattern[i + 1] == '%') {
            literal += '%';
            i += 2;
            continue;
        }
        char type = 0;
        const int end = conversionEnd(pattern, i + 1, &type);
        flushLiteral();
        QString value = next != arguments.end() ? *next++ : QString();
        if (std::string_view("fFeEgG").find(type) != std::string_view::npos) {
            bool ok = false;
            const double number = value.toDouble(&ok);
            if (ok)
                value
                    = NumberFormat::printf(std::string_view(pattern + i, std::size_t(end - i)), number).value_or(value);
        }
        out += value;
        i = end;
    }
    flushLiteral();
    return out;
}

void write(const QString& line)
{
    const QByteArray utf8 = line.toUtf8();
    std::fprintf(stderr, "%s\n", utf8.constData());
    std::fflush(stderr);
    static const bool syslogOpened = [] {
        openlog("quillet", LOG_PID, LOG_USER);
        return true;
    }();
    Q_UNUSED(syslogOpened);
    syslog(LOG_INFO, "%s", utf8.constData());

    std::lock_guard lock(captureMutex());
    for (LogCapture* capture : captures())
        capture->append(line);
}

} // namespace Log

LogCapture::LogCapture()
{
    std::lock_guard lock(captureMutex());
    captures().push_back(this);
}

LogCapture::~LogCapture()
{
    std::lock_guard lock(captureMutex());
    std::erase(captures(), this);
}

void LogCapture::append(const QString& line)
{
    std::lock_guard lock(m_mutex);
    m_lines.append(line);
}

QStringList LogCapture::lines() const
{
    std::lock_guard lock(m_mutex);
    return m_lines;
}

bool LogCapture::contains(const QString& line) const
{
    return lines().contains(line);
}

bool LogCapture::containsPart(const QString& fragment) const
{
    const QStringList all = lines();
    for (const QString& line : all) {
        if (line.contains(fragment))
            return true;
    }
    return false;
}

void LogCapture::clear()
{
    std::lock_guard lock(m_mutex);
    m_lines.clear();
}
