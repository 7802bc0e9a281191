#include "platform/portal/DesktopAppearance.h"

#include "platform/Log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QElapsedTimer>

namespace {

const QString kReadOne = QStringLiteral("ReadOne");
const QString kRead = QStringLiteral("Read");

bool isUnknownMethod(const QDBusMessage& reply)
{
    return reply.type() == QDBusMessage::ErrorMessage
        && reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod");
}

bool isTimeout(const QDBusMessage& reply)
{
    return reply.type() == QDBusMessage::ErrorMessage
        && (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply")
            || reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.Timeout"));
}

// Read wraps the value in one variant more than ReadOne does.
QVariant unwrapped(QVariant value)
{
    for (int depth = 0; depth < 2 && value.metaType() == QMetaType::fromType<QDBusVariant>(); ++depth)
        value = qvariant_cast<QDBusVariant>(value).variant();
    return value;
}

} // namespace

PortalAppearance::PortalAppearance(QDBusConnection bus, std::chrono::milliseconds firstAnswerLimit, QObject* parent)
    : DesktopAppearance(parent)
    , m_bus(std::move(bus))
{
    if (!m_bus.isConnected())
        return;
    // QtDBus looks the slot's parameter types up by name, and Qt knows the name "QDBusVariant"
    // only once the type is registered, which QtDBus itself does when it first reads a variant:
    // made before the first answer, the connection would be refused.
    qRegisterMetaType<QDBusVariant>();
    // Listening first: a change made while the first answer is on its way is not missed.
    if (!m_bus.connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"), this,
            SLOT(settingChanged(QString, QString, QDBusVariant))))
        Log::line("[Quillet] The desktop's appearance changes can't be followed");

    QElapsedTimer waited;
    waited.start();
    const auto remaining = [&] { return std::max<qint64>(firstAnswerLimit.count() - waited.elapsed(), 1); };
    QString method = kReadOne;
    QDBusMessage reply = m_bus.call(readCall(method), QDBus::Block, int(remaining()));
    if (isUnknownMethod(reply)) {
        method = kRead;
        reply = m_bus.call(readCall(method), QDBus::Block, int(remaining()));
    }
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        take(reply.arguments().constFirst());
    } else if (isTimeout(reply)) {
        // Too slow for the first window (a portal still starting, or one that hangs): its
        // answer is taken whenever it comes.
        readLater(method);
    }
}

QDBusMessage PortalAppearance::readCall(const QString& method) const
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    call << kNamespace << kKey;
    return call;
}

void PortalAppearance::readLater(const QString& method)
{
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(readCall(method)), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusMessage reply = watcher->reply();
        if (!m_changed && reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            take(reply.arguments().constFirst());
    });
}

void PortalAppearance::settingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value)
{
    if (nameSpace != kNamespace || key != kKey)
        return;
    m_changed = true;
    take(value.variant());
}

void PortalAppearance::take(const QVariant& value)
{
    bool isNumber = false;
    const uint number = unwrapped(value).toUInt(&isNumber);
    // 1 prefers dark, 2 light; 0 and anything unknown prefer nothing.
    const ColorScheme scheme = !isNumber ? ColorScheme::noPreference
        : number == 1                    ? ColorScheme::dark
        : number == 2                    ? ColorScheme::light
                                         : ColorScheme::noPreference;
    if (scheme == m_scheme)
        return;
    m_scheme = scheme;
    emit colorSchemeChanged();
}
