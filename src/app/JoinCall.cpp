#include "app/JoinCall.h"

#include "platform/UrlOpener.h"

#include <QObject>
#include <QPointer>

namespace {

const QString kInstead = QStringLiteral(" Open the call from your calendar instead.");

QString refusedText(const QUrl& link)
{
    const QString scheme = link.scheme();
    const QString what = scheme.isEmpty() ? QStringLiteral("this call\u2019s link")
                                          : QStringLiteral("this call\u2019s \u201C%1:\u201D link").arg(scheme);
    return QStringLiteral("Quillet opens only web links and call apps\u2019 own links, so it did not open ") + what
        + u'.' + kInstead;
}

QString notOpenedText()
{
    return QStringLiteral("The desktop could not open this call\u2019s link.") + kInstead;
}

} // namespace

void joinCall(UrlOpener& opener, const QUrl& link, QObject* context, std::function<void(const QString&)> failed)
{
    const QPointer<QObject> guard(context);
    const auto report = [guard, failed](const QString& text) {
        if (guard && failed)
            failed(text);
    };
    if (!UrlOpener::mayOpen(link)) {
        report(refusedText(link));
        return;
    }
    if (!opener.open(link, [report] { report(notOpenedText()); }))
        report(notOpenedText());
}
