// GLib headers use "signals" as a member name, which Qt defines as a keyword: include them first.
// clang-format off
#include <libsecret/secret.h>
#include "platform/LibsecretStore.h"
// clang-format on

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace {

const SecretSchema* schema()
{
    static const SecretSchema kSchema = {
        "com.orvane.quillet.Password",
        SECRET_SCHEMA_NONE,
        {
            { "service", SECRET_SCHEMA_ATTRIBUTE_STRING },
            { "account", SECRET_SCHEMA_ATTRIBUTE_STRING },
            { nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING },
        },
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    };
    return &kSchema;
}

qint32 statusFor(const GError* error)
{
    if (!error)
        return SecretStore::Success;
    if (error->domain == G_IO_ERROR && error->code == G_IO_ERROR_CANCELLED)
        return SecretStore::TimedOut;
    if (error->domain == G_DBUS_ERROR || error->domain == G_IO_ERROR)
        return SecretStore::Unavailable;
    return SecretStore::Failed;
}

// Runs a blocking libsecret call on its own thread and gives up after the limit: the call is
// cancelled and left to finish on its own, so the caller never waits longer than the limit.
template <typename T>
std::optional<T> runWithTimeLimit(std::chrono::milliseconds limit, std::function<T(GCancellable*)> work)
{
    struct State
    {
        ~State() { g_object_unref(cancellable); }
        std::mutex mutex;
        std::condition_variable finished;
        std::optional<T> result;
        GCancellable* cancellable = g_cancellable_new();
    };
    auto state = std::make_shared<State>();
    std::thread([state, work = std::move(work)] {
        T result = work(state->cancellable);
        std::lock_guard lock(state->mutex);
        state->result = std::move(result);
        state->finished.notify_all();
    }).detach();

    std::unique_lock lock(state->mutex);
    if (!state->finished.wait_for(lock, limit, [&] { return state->result.has_value(); })) {
        g_cancellable_cancel(state->cancellable);
        return std::nullopt;
    }
    return state->result;
}

} // namespace

LibsecretStore::LibsecretStore(std::chrono::milliseconds timeLimit)
    : m_timeLimit(timeLimit)
{ }

bool LibsecretStore::isResting() const
{
    return std::chrono::steady_clock::now().time_since_epoch().count() < m_restUntil.load();
}

void LibsecretStore::noteTimeout()
{
    m_restUntil.store((std::chrono::steady_clock::now() + kRestAfterTimeout).time_since_epoch().count());
}

std::optional<QByteArray> LibsecretStore::read(const QString& service, const QString& account)
{
    const QByteArray serviceUtf8 = service.toUtf8();
    const QByteArray accountUtf8 = account.toUtf8();
    using Answer = std::optional<QByteArray>;
    if (isResting())
        return std::nullopt;
    const std::optional<Answer> answer = runWithTimeLimit<Answer>(m_timeLimit, [=](GCancellable* cancellable) {
        GError* error = nullptr;
        SecretValue* value = secret_password_lookup_binary_sync(schema(), cancellable, &error, "service",
            serviceUtf8.constData(), "account", accountUtf8.constData(), nullptr);
        if (error)
            g_error_free(error);
        if (!value)
            return Answer();
        gsize length = 0;
        const gchar* bytes = secret_value_get(value, &length);
        Answer result = QByteArray(bytes, qsizetype(length));
        secret_value_unref(value);
        return result;
    });
    if (!answer)
        noteTimeout();
    return answer.value_or(std::nullopt);
}

qint32 LibsecretStore::write(const QString& service, const QString& account, const QByteArray& data)
{
    const QByteArray serviceUtf8 = service.toUtf8();
    const QByteArray accountUtf8 = account.toUtf8();
    const QByteArray label = QStringLiteral("%1 (%2)").arg(account, service).toUtf8();
    if (isResting())
        return TimedOut;
    const std::optional<qint32> status = runWithTimeLimit<qint32>(m_timeLimit, [=](GCancellable* cancellable) {
        SecretValue* value = secret_value_new(data.constData(), data.size(), "text/plain");
        GError* error = nullptr;
        // Storing with the same attributes replaces the existing item's secret.
        const gboolean stored
            = secret_password_store_binary_sync(schema(), SECRET_COLLECTION_DEFAULT, label.constData(), value,
                cancellable, &error, "service", serviceUtf8.constData(), "account", accountUtf8.constData(), nullptr);
        secret_value_unref(value);
        qint32 result = stored ? Success : statusFor(error);
        if (!stored && result == Success)
            result = Failed;
        if (error)
            g_error_free(error);
        return result;
    });
    if (!status)
        noteTimeout();
    return status.value_or(TimedOut);
}

void LibsecretStore::remove(const QString& service, const QString& account)
{
    const QByteArray serviceUtf8 = service.toUtf8();
    const QByteArray accountUtf8 = account.toUtf8();
    if (isResting())
        return;
    const std::optional<bool> answered = runWithTimeLimit<bool>(m_timeLimit, [=](GCancellable* cancellable) {
        GError* error = nullptr;
        // Clears every matching item, so duplicates left by another client go too.
        const gboolean removed = secret_password_clear_sync(schema(), cancellable, &error, "service",
            serviceUtf8.constData(), "account", accountUtf8.constData(), nullptr);
        if (error)
            g_error_free(error);
        return bool(removed);
    });
    if (!answered)
        noteTimeout();
}
