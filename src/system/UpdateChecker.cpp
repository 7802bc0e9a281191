#include "system/UpdateChecker.h"

#include "network/ReplyLimiter.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <limits>

namespace {

// Strict decimal: an optional sign, then digits only, within 64 bits; anything else is 0.
qint64 versionPart(const QString& text)
{
    int i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i == text.size())
        return 0;
    // Accumulate negatively so that the most negative 64-bit value still parses.
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
        const int digit = c.unicode() - '0';
        if (value < (std::numeric_limits<qint64>::min() + digit) / 10)
            return 0;
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    if (value == std::numeric_limits<qint64>::min())
        return 0;
    return -value;
}

QUrl withPath(QUrl origin, const QString& path)
{
    origin.setPath(path);
    origin.setQuery(QString());
    origin.setFragment(QString());
    return origin;
}

} // namespace

QUrl UpdateChecker::defaultSiteOrigin()
{
    return QUrl(QStringLiteral(QUILLET_UPDATE_SITE));
}

QString UpdateChecker::applicationVersion()
{
    const QString version = QCoreApplication::applicationVersion();
    return version.isEmpty() ? QStringLiteral("0.0.0") : version;
}

UpdateChecker::UpdateChecker(QNetworkAccessManager& network, QUrl siteOrigin, QString currentVersion, UrlOpener opener,
    std::chrono::milliseconds timeout, QObject* parent)
    : QObject(parent)
    , m_network(network)
    , m_siteOrigin(std::move(siteOrigin))
    , m_currentVersion(currentVersion.isEmpty() ? QStringLiteral("0.0.0") : std::move(currentVersion))
    , m_opener(std::move(opener))
    , m_timeout(timeout)
{ }

UpdateChecker::~UpdateChecker()
{
    if (m_reply)
        m_reply->abort();
}

bool UpdateChecker::updateAvailable() const
{
    return !m_latestVersion.isEmpty() && isNewer(m_latestVersion, m_currentVersion);
}

QUrl UpdateChecker::fallbackDownloadUrl() const
{
    // A page rather than a file: the site offers this platform's package and the ways to
    // install it, where a file guessed here might be one the user cannot install.
    return withPath(m_siteOrigin, QStringLiteral("/download"));
}

void UpdateChecker::check()
{
    QNetworkRequest request(withPath(m_siteOrigin, QStringLiteral("/latest.json")));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    QNetworkReply* reply = ReplyLimiter::send(
        m_network, request, "GET", std::nullopt, { m_timeout, m_timeout, RequestLimits::kJsonReplyBytes });
    m_reply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] { handleReply(reply); });
}

void UpdateChecker::handleReply(QNetworkReply* reply)
{
    reply->deleteLater();
    const auto done = qScopeGuard([this] { emit finished(); });
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200
        || reply->error() != QNetworkReply::NoError)
        return;
    const QJsonDocument document = QJsonDocument::fromJson(ReplyLimiter::body(reply));
    if (!document.isObject())
        return;
    const QJsonObject feed = document.object();
    QString version = feed.value(QStringLiteral("version")).toString();
    if (version.startsWith(QLatin1Char('v')))
        version.remove(0, 1);
    if (version.isEmpty())
        return;

    // The address goes straight to the browser, so only a web address with a host is taken;
    // anything else (javascript:, file:, a bare word) gives way to our own download page.
    QUrl download = fallbackDownloadUrl();
    const QJsonValue urlValue = feed.value(QStringLiteral("url"));
    if (urlValue.isString()) {
        const QUrl candidate(urlValue.toString(), QUrl::StrictMode);
        const QString scheme = candidate.scheme().toLower();
        if (candidate.isValid() && (scheme == QLatin1String("https") || scheme == QLatin1String("http"))
            && !candidate.host().isEmpty())
            download = candidate;
    }

    if (version != m_latestVersion) {
        m_latestVersion = version;
        emit latestVersionChanged();
    }
    if (download != m_downloadUrl) {
        m_downloadUrl = download;
        emit downloadUrlChanged();
    }
}

void UpdateChecker::openDownload()
{
    const QUrl url = m_downloadUrl.isValid() ? m_downloadUrl : fallbackDownloadUrl();
    if (m_opener)
        m_opener(url);
    else
        QDesktopServices::openUrl(url);
}

bool UpdateChecker::isNewer(const QString& a, const QString& b)
{
    const QStringList left = a.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    const QStringList right = b.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    const qsizetype count = std::max(left.size(), right.size());
    for (qsizetype i = 0; i < count; ++i) {
        const qint64 x = i < left.size() ? versionPart(left[i]) : 0;
        const qint64 y = i < right.size() ? versionPart(right[i]) : 0;
        if (x != y)
            return x > y;
    }
    return false;
}
