#pragma once

// The user's browser: notes each page it is asked to open and, when following, loads it and
// hands a redirect to an application's own scheme (anything but a web address) on, as the
// desktop would: by default straight to a URL router, or however the test says (a second
// process, for one). refuse makes it answer that no browser could be opened. Folders are noted
// as "file:" URLs.

#include "platform/UrlOpener.h"
#include "platform/UrlRouter.h"

#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <functional>

class BrowserStandIn final : public UrlOpener
{
public:
    using HandOver = std::function<void(const QUrl&)>;

    explicit BrowserStandIn(UrlRouter& router)
        : m_handOver([&router](const QUrl& url) { router.route(url); })
    { }
    explicit BrowserStandIn(HandOver handOver)
        : m_handOver(std::move(handOver))
    { }

    using UrlOpener::open;
    bool open(const QUrl& url, Failed) override
    {
        opened.append(url);
        if (refuse)
            return false;
        if (follow) {
            QNetworkRequest request(url);
            request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
            QNetworkReply* reply = m_network.get(request);
            QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply] {
                reply->deleteLater();
                const QUrl location = QUrl::fromEncoded(reply->rawHeader("Location"));
                if (location.isValid() && !location.scheme().isEmpty() && location.scheme() != QLatin1String("http")
                    && location.scheme() != QLatin1String("https"))
                    handOver(location);
            });
        }
        return true;
    }

    bool openFolder(const QString& path) override
    {
        opened.append(QUrl::fromLocalFile(path));
        return !refuse;
    }

    // What the desktop does with an application's URL.
    void handOver(const QUrl& url) { m_handOver(url); }
    void setHandOver(HandOver handOver) { m_handOver = std::move(handOver); }

    QList<QUrl> opened;
    bool follow = true;
    bool refuse = false;

private:
    QNetworkAccessManager m_network;
    HandOver m_handOver;
};
