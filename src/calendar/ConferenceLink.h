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

// Whether a link may be a call link at all: a web link (http or https, with a host), or a
// host-less "facetime:" link (the scheme in exactly that case). An invitation is written by
// whoever sends it, and the desktop hands other schemes ("file:", "smb:", "javascript:") to
// programs that run files or mount shares.
bool isCallAddress(const QString& link);

// Whether a link leads to a call: a call address whose host is one of the call services' (or a
// subdomain), or a "facetime:" link.
bool matches(const QString& link);

} // namespace ConferenceLink
