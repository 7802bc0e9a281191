#include "calendar/ConferenceLink.h"

#include <array>

namespace {

// The web hosts of the call services' meeting links: Zoom, Google Meet, Microsoft Teams (work
// or school, and personal), Webex, FaceTime.
const std::array<QLatin1String, 6> kConferenceHosts {
    QLatin1String("zoom.us"),
    QLatin1String("meet.google.com"),
    QLatin1String("teams.microsoft.com"),
    QLatin1String("teams.live.com"),
    QLatin1String("webex.com"),
    QLatin1String("facetime.apple.com"),
};

const QLatin1String kFaceTimeScheme("facetime:");

QChar asciiLower(QChar c)
{
    return (c >= u'A' && c <= u'Z') ? QChar(c.unicode() + 32) : c;
}

bool equalsAsciiCaseless(QStringView text, QLatin1String lowerCase)
{
    for (qsizetype i = 0; i < lowerCase.size(); ++i) {
        if (asciiLower(text[i]) != QLatin1Char(lowerCase[i]))
            return false;
    }
    return true;
}

// Where the next listed host name is written, in any ASCII case, from `from` on. Every host
// name has a dot: only the text at the dots is compared, and finding dots is fast (Qt's own
// case-insensitive search folds every character through the Unicode tables, which is slow over
// kilobytes of invitation notes).
qsizetype nextHost(QStringView text, qsizetype from)
{
    for (qsizetype dot = text.indexOf(u'.', from); dot >= 0; dot = text.indexOf(u'.', dot + 1)) {
        for (QLatin1String host : kConferenceHosts) {
            const qsizetype start = dot - host.indexOf(QLatin1Char('.'));
            if (start >= from && start + host.size() <= text.size()
                && equalsAsciiCaseless(text.mid(start, host.size()), host))
                return start;
        }
    }
    return -1;
}

// Schemes whose links carry no "//".
const std::array<QLatin1String, 4> kHostlessSchemes {
    QLatin1String("facetime"),
    QLatin1String("facetime-audio"),
    QLatin1String("mailto"),
    QLatin1String("tel"),
};

bool isDelimiter(QChar c)
{
    return c.isSpace() || c == u'"' || c == u'\'' || c == u'<' || c == u'>';
}

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

bool isSchemeChar(QChar c)
{
    return isAsciiLetter(c) || isAsciiDigit(c) || c == u'+' || c == u'-' || c == u'.';
}

bool isLabelChar(QChar c)
{
    return isAsciiLetter(c) || isAsciiDigit(c) || c == u'-';
}

// Characters that glue a name to what comes before it (an e-mail address, a path).
bool continuesWord(QChar c)
{
    return isAsciiLetter(c) || isAsciiDigit(c) || c == u'.' || c == u'-' || c == u'_' || c == u'@' || c == u'/'
        || c == u'%' || c == u'+' || c == u'~';
}

// Drops sentence punctuation and brackets that close outside the link.
QStringView trimmed(QStringView link)
{
    while (!link.isEmpty()) {
        const QChar last = link.back();
        if (last == u'.' || last == u',' || last == u';' || last == u':' || last == u'!' || last == u'?') {
            link.chop(1);
        } else if ((last == u')' && link.count(u'(') < link.count(u')'))
            || (last == u']' && link.count(u'[') < link.count(u']'))) {
            link.chop(1);
        } else {
            break;
        }
    }
    return link;
}

// A link with a scheme starting at `at`: "scheme://..." or a host-less scheme's "scheme:...".
std::optional<QString> schemeLinkAt(QStringView token, qsizetype at)
{
    if (!isAsciiLetter(token[at]) || (at > 0 && isSchemeChar(token[at - 1])))
        return std::nullopt;
    qsizetype colon = at;
    while (colon < token.size() && isSchemeChar(token[colon]))
        ++colon;
    if (colon >= token.size() || token[colon] != u':')
        return std::nullopt;
    const QStringView scheme = token.mid(at, colon - at);
    qsizetype bodyStart = colon + 1;
    if (token.mid(bodyStart).startsWith(u"//")) {
        bodyStart += 2;
    } else {
        const bool hostless = std::any_of(kHostlessSchemes.begin(), kHostlessSchemes.end(),
            [&](QLatin1String known) { return scheme.compare(known, Qt::CaseInsensitive) == 0; });
        if (!hostless)
            return std::nullopt;
    }
    const QStringView link = trimmed(token.mid(at));
    if (link.size() <= bodyStart - at)
        return std::nullopt;
    return link.toString();
}

// A link written without a scheme, starting at `at`: "www.host..." or "host.tld/...".
std::optional<QString> bareLinkAt(QStringView token, qsizetype at)
{
    if (!isLabelChar(token[at]) || (at > 0 && continuesWord(token[at - 1])))
        return std::nullopt;
    qsizetype end = at;
    qsizetype lastLabel = at;
    int labels = 0;
    while (end < token.size()) {
        const qsizetype labelStart = end;
        while (end < token.size() && isLabelChar(token[end]))
            ++end;
        if (end == labelStart)
            return std::nullopt;
        ++labels;
        lastLabel = labelStart;
        if (end + 1 < token.size() && token[end] == u'.' && isLabelChar(token[end + 1]))
            ++end;
        else
            break;
    }
    const QStringView topLevel = token.mid(lastLabel, end - lastLabel);
    if (labels < 2 || topLevel.size() < 2 || !std::all_of(topLevel.begin(), topLevel.end(), isAsciiLetter))
        return std::nullopt;
    qsizetype after = end;
    if (after < token.size() && token[after] == u':') {
        ++after;
        while (after < token.size() && isAsciiDigit(token[after]))
            ++after;
    }
    const bool www = token.mid(at).startsWith(u"www.", Qt::CaseInsensitive);
    // A bare name without a path is more often a mention than a link.
    if (!www && (after >= token.size() || token[after] != u'/'))
        return std::nullopt;
    return QStringLiteral("https://") + trimmed(token.mid(at)).toString();
}

// A link runs to the end of its token, so a token holds at most one.
std::optional<QString> linkInToken(QStringView token)
{
    for (qsizetype at = 0; at < token.size(); ++at) {
        if (std::optional<QString> link = schemeLinkAt(token, at))
            return link;
        if (std::optional<QString> link = bareLinkAt(token, at))
            return link;
    }
    return std::nullopt;
}

qsizetype tokenStart(QStringView text, qsizetype at)
{
    while (at > 0 && !isDelimiter(text[at - 1]))
        --at;
    return at;
}

qsizetype tokenEnd(QStringView text, qsizetype at)
{
    while (at < text.size() && !isDelimiter(text[at]))
        ++at;
    return at;
}

std::optional<QUrl> callLink(const std::optional<QString>& link)
{
    if (link && ConferenceLink::matches(*link))
        return QUrl(*link);
    return std::nullopt;
}

} // namespace

bool ConferenceLink::matches(const QString& link)
{
    const QUrl url(link);
    // Credentials in a link either go to the call service unasked or hide the real host
    // ("https://zoom.us:x@example.com"): such a link is no call link.
    if (!url.isValid() || !url.userInfo().isEmpty())
        return false;
    const QString host = url.host().toLower();
    // QUrl lower-cases the scheme: "FaceTime:" is another app's, so the text decides.
    if (host.isEmpty())
        return link.startsWith(kFaceTimeScheme);
    for (QLatin1String known : kConferenceHosts) {
        if (host == known || (host.endsWith(known) && host.at(host.size() - known.size() - 1) == u'.'))
            return true;
    }
    return false;
}

QStringList ConferenceLink::links(QStringView text)
{
    QStringList found;
    for (qsizetype start = 0; start < text.size();) {
        const qsizetype end = tokenEnd(text, start);
        if (end > start) {
            if (std::optional<QString> link = linkInToken(text.mid(start, end - start)))
                found.append(*link);
        }
        start = end + 1;
    }
    return found;
}

std::optional<QUrl> ConferenceLink::firstConferenceURL(QStringView text)
{
    // A call link has a listed host in it, or is "facetime:...": every other token can be
    // passed over without a look. Invitation notes are long, and most hold no call link.
    qsizetype host = nextHost(text, 0);
    qsizetype faceTime = text.indexOf(kFaceTimeScheme, 0);
    while (host >= 0 || faceTime >= 0) {
        const qsizetype at = (host < 0 || (faceTime >= 0 && faceTime < host)) ? faceTime : host;
        const qsizetype start = tokenStart(text, at);
        const qsizetype end = tokenEnd(text, at);
        if (std::optional<QUrl> url = callLink(linkInToken(text.mid(start, end - start))))
            return url;
        if (host >= 0 && host < end)
            host = nextHost(text, end);
        if (faceTime >= 0 && faceTime < end)
            faceTime = text.indexOf(kFaceTimeScheme, end);
    }
    return std::nullopt;
}

std::optional<QUrl> ConferenceLink::detect(
    const QString& url, const std::optional<QString>& location, const std::optional<QString>& notes)
{
    if (std::optional<QUrl> link = callLink(url.trimmed()))
        return link;
    if (location) {
        if (std::optional<QUrl> link = firstConferenceURL(*location))
            return link;
    }
    if (notes)
        return firstConferenceURL(*notes);
    return std::nullopt;
}
