#pragma once

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>

class QNetworkReply;

// Finds out whether a newer release was published, from "/latest.json" on the product's site
// ({"version": "1.4.0", "url": "https://…"}), and publishes it for the update banner. Never
// downloads anything: openDownload() hands the address to the browser. Main thread.
class UpdateChecker final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UpdateChecker)
    Q_PROPERTY(QString latestVersion READ latestVersion NOTIFY latestVersionChanged)
    Q_PROPERTY(QUrl downloadUrl READ downloadUrl NOTIFY downloadUrlChanged)
    Q_PROPERTY(bool updateAvailable READ updateAvailable NOTIFY latestVersionChanged)

public:
    using UrlOpener = std::function<bool(const QUrl&)>;

    static constexpr std::chrono::milliseconds kDefaultTimeout { 15000 };

    // The product site's origin, fixed at build time.
    static QUrl defaultSiteOrigin();
    // The running application's version, "0.0.0" when none is set.
    static QString applicationVersion();

    // opener: how openDownload() opens the address (default: the desktop's browser).
    // timeout: both the longest silence and the longest whole check.
    UpdateChecker(QNetworkAccessManager& network, QUrl siteOrigin = defaultSiteOrigin(),
        QString currentVersion = applicationVersion(), UrlOpener opener = {},
        std::chrono::milliseconds timeout = kDefaultTimeout, QObject* parent = nullptr);
    ~UpdateChecker() override;

    // Empty until a check succeeded.
    QString latestVersion() const { return m_latestVersion; }
    // Invalid until a check succeeded.
    QUrl downloadUrl() const { return m_downloadUrl; }
    QString currentVersion() const { return m_currentVersion; }
    bool updateAvailable() const;

    // The site's download page, opened when the feed names no usable address.
    QUrl fallbackDownloadUrl() const;

    // Fetches the feed; failures are silent and keep what was published. finished() follows.
    void check();

    // Opens downloadUrl(), or the fallback address when none was published.
    void openDownload();

    // True only when version a is strictly newer than b (dotted parts compared as integers,
    // a part that is not a number counts as 0).
    static bool isNewer(const QString& a, const QString& b);

signals:
    void latestVersionChanged();
    void downloadUrlChanged();
    // A check ended, whatever its result.
    void finished();

private:
    void handleReply(QNetworkReply* reply);

    QNetworkAccessManager& m_network;
    QUrl m_siteOrigin;
    QString m_currentVersion;
    UrlOpener m_opener;
    std::chrono::milliseconds m_timeout;
    QString m_latestVersion;
    QUrl m_downloadUrl;
    QPointer<QNetworkReply> m_reply;
};
