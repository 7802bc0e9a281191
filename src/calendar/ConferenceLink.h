#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
#include <QUrl>
#include <optional>

// Finds the video-call link of a calendar event. Links are found the way a reader sees them in
// plain or HTML text: absolute URLs with a scheme, and "www." or "host/path" written without
// one (completed with "https://"). A link ends at white space, a quote or an angle bracket;
// trailing sentence punctuation and an unmatched ")" or "]" are not part of it.
namespace ConferenceLink {

// The event's URL property when it is a call link, else the first call link in the location,
// else the first in the notes.
std::optional<QUrl> detect(
    const QString& url, const std::optional<QString>& location, const std::optional<QString>& notes);

// Every link of the text, in order, as written (scheme-less ones completed).
QStringList links(QStringView text);

// The first link of the text that matches(): what filtering links() gives, found by looking
// only where a call service's host name or "facetime:" is written.
std::optional<QUrl> firstConferenceURL(QStringView text);

// Whether a link leads to a call: one whose host is a call service's (or a subdomain of one),
// whatever its scheme (a call app's own link names the service's host too), or a host-less
// "facetime:" link; never one with user info. Which of them the desktop may open is
// UrlOpener::mayOpen's to say.
bool matches(const QString& link);

} // namespace ConferenceLink
