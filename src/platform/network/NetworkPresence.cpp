#include "platform/network/NetworkPresence.h"

#include <QFile>
#include <QList>
#include <QNetworkInterface>
#include <algorithm>
#include <functional>
#include <optional>

namespace {

// Route flags of <linux/route.h>.
constexpr uint kRouteUp = 0x0001;
constexpr uint kRouteReject = 0x0200;

bool usable(uint flags)
{
    return (flags & kRouteUp) && !(flags & kRouteReject);
}

QList<QByteArrayView> fields(QByteArrayView line)
{
    QList<QByteArrayView> found;
    qsizetype at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t'))
            ++at;
        const qsizetype start = at;
        while (at < line.size() && line[at] != ' ' && line[at] != '\t')
            ++at;
        if (at > start)
            found.append(line.sliced(start, at - start));
    }
    return found;
}

uint hex(QByteArrayView text, bool* ok)
{
    return QByteArray(text.data(), text.size()).toUInt(ok, 16);
}

bool isAllZeros(QByteArrayView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) { return c == '0'; });
}

// Iface Destination Gateway Flags RefCnt Use Metric Mask ..., after a heading line.
bool ipv4Default(QByteArrayView line, const QSet<QString>& interfaces)
{
    const QList<QByteArrayView> f = fields(line);
    if (f.size() < 8 || !isAllZeros(f[1]) || !isAllZeros(f[7]))
        return false;
    bool ok = false;
    const uint flags = hex(f[3], &ok);
    return ok && usable(flags) && interfaces.contains(QString::fromLatin1(f[0]));
}

// Destination PrefixLength Source SourcePrefixLength NextHop Metric RefCnt Use Flags Iface.
bool ipv6Default(QByteArrayView line, const QSet<QString>& interfaces)
{
    const QList<QByteArrayView> f = fields(line);
    if (f.size() < 10 || !isAllZeros(f[0]) || !isAllZeros(f[1]))
        return false;
    bool ok = false;
    const uint flags = hex(f[8], &ok);
    return ok && usable(flags) && interfaces.contains(QString::fromLatin1(f[9]));
}

bool anyLine(QByteArrayView table, qsizetype skip, const std::function<bool(QByteArrayView)>& test)
{
    qsizetype index = 0;
    for (qsizetype start = 0; start < table.size(); ++index) {
        qsizetype end = table.indexOf('\n', start);
        if (end < 0)
            end = table.size();
        if (index >= skip && test(table.sliced(start, end - start)))
            return true;
        start = end + 1;
    }
    return false;
}

// An address that reaches beyond the machine and its link: not loopback, not link-local.
bool reachesOut(const QHostAddress& address)
{
    return !address.isNull() && !address.isLoopback() && !address.isLinkLocal();
}

QSet<QString> connectedInterfaces()
{
    QSet<QString> names;
    const auto needed = QNetworkInterface::IsUp | QNetworkInterface::IsRunning;
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        if ((interface.flags() & needed) != needed || (interface.flags() & QNetworkInterface::IsLoopBack))
            continue;
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        if (std::any_of(entries.begin(), entries.end(),
                [](const QNetworkAddressEntry& entry) { return reachesOut(entry.ip()); }))
            names.insert(interface.name());
    }
    return names;
}

std::optional<QByteArray> readTable(const char* path)
{
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // The kernel's tables report no size: read to the end.
    return file.readAll();
}

} // namespace

const NetworkPresence& NetworkPresence::system()
{
    static const SystemNetworkPresence presence;
    return presence;
}

bool SystemNetworkPresence::machineHasNetwork() const
{
    const QSet<QString> interfaces = connectedInterfaces();
    if (interfaces.isEmpty())
        return false;
    const std::optional<QByteArray> ipv4 = readTable("/proc/net/route");
    const std::optional<QByteArray> ipv6 = readTable("/proc/net/ipv6_route");
    if (!ipv4 && !ipv6)
        return true;
    return hasDefaultRoute(ipv4.value_or(QByteArray()), ipv6.value_or(QByteArray()), interfaces);
}

bool SystemNetworkPresence::hasDefaultRoute(
    QByteArrayView ipv4Routes, QByteArrayView ipv6Routes, const QSet<QString>& interfaces)
{
    return anyLine(ipv4Routes, 1, [&](QByteArrayView line) { return ipv4Default(line, interfaces); })
        || anyLine(ipv6Routes, 0, [&](QByteArrayView line) { return ipv6Default(line, interfaces); });
}
