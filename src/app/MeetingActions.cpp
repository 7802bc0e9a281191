#include "app/MeetingActions.h"

#include "account/AccountService.h"
#include "account/QuilletCloud.h"
#include "app/RecordingController.h"
#include "platform/Log.h"
#include "platform/UrlOpener.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "summary/MeetingSummarizer.h"

#include <QClipboard>
#include <QGuiApplication>

namespace {

void putOnClipboard(const QString& text)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}

bool sameOffer(const std::optional<EventLinks::Offer>& a, const std::optional<EventLinks::Offer>& b)
{
    if (!a || !b)
        return a.has_value() == b.has_value();
    return a->eventId == b->eventId && a->title == b->title;
}

} // namespace

MeetingActions::MeetingActions(Meeting& meeting, const Services& services, QObject* parent)
    : QObject(parent)
    , m_meeting(&meeting)
    , m_services(services)
{
    for (const auto signal : { &Meeting::summaryChanged, &Meeting::segmentsChanged })
        connect(&meeting, signal, this, &MeetingActions::availabilityChanged);
    for (const auto signal : { &Meeting::calendarEventIdChanged, &Meeting::linkBannerDismissedChanged,
             &Meeting::sourceChanged, &Meeting::dateChanged }) {
        connect(&meeting, signal, this, &MeetingActions::updateLinkOffer);
    }
    connect(&services.eventLinks, &EventLinks::changed, this, &MeetingActions::updateLinkOffer);
    m_linkOffer = services.eventLinks.candidate(meeting);
}

MeetingActions::~MeetingActions() = default;

bool MeetingActions::canCopySummary() const
{
    return m_meeting && m_meeting->summary().has_value();
}

bool MeetingActions::canCopyTranscript() const
{
    return m_meeting && !m_meeting->segments().isEmpty();
}

bool MeetingActions::canShare() const
{
    if (!m_meeting || m_isSharing)
        return false;
    const std::optional<QString> summary = m_meeting->summary();
    return summary && !summary->isEmpty();
}

bool MeetingActions::canRegenerate() const
{
    return canCopyTranscript() && !m_isRegenerating;
}

QString MeetingActions::linkPrompt() const
{
    if (!m_linkOffer)
        return QString();
    return QStringLiteral("Link to “") + m_linkOffer->title + QStringLiteral("”?");
}

void MeetingActions::setRegenerating(bool regenerating)
{
    if (m_isRegenerating == regenerating)
        return;
    m_isRegenerating = regenerating;
    emit isRegeneratingChanged();
    emit availabilityChanged();
}

void MeetingActions::setRegenerateError(const std::optional<QString>& error)
{
    if (m_regenerateError == error)
        return;
    m_regenerateError = error;
    emit regenerateErrorChanged();
}

void MeetingActions::setSharing(bool sharing)
{
    if (m_isSharing == sharing)
        return;
    m_isSharing = sharing;
    emit isSharingChanged();
    emit availabilityChanged();
}

void MeetingActions::updateLinkOffer()
{
    if (!m_meeting)
        return;
    std::optional<EventLinks::Offer> offer = m_services.eventLinks.candidate(*m_meeting);
    if (sameOffer(offer, m_linkOffer))
        return;
    m_linkOffer = std::move(offer);
    emit linkOfferChanged();
}

void MeetingActions::regenerate()
{
    if (!m_meeting)
        return;
    const std::optional<ModelCredentials> credentials = m_services.account.modelCredentials();
    if (!credentials) {
        setRegenerateError(QStringLiteral("Sign in or add a Tessra key in Settings to generate summaries."));
        return;
    }
    const QString transcript = m_meeting->formattedTranscript();
    if (transcript.isEmpty())
        return;
    setRegenerateError(std::nullopt);
    setRegenerating(true);
    Log::line("[Quillet] Regenerating summary (transcript %d chars)", transcript.size());
    // The run stores its result on the meeting, if the meeting is still there, whether or not
    // these actions still are.
    m_services.summarizer.run(*m_meeting, m_services.store, *credentials,
        [actions = QPointer<MeetingActions>(this)](const MeetingSummarizer::Result& result) {
            if (result.ok())
                Log::line("[Quillet] Summary regenerated (%d chars)", result.value().summary.size());
            else
                Log::line("[Quillet] Regenerate failed: %@", result.error().description());
            if (!actions)
                return;
            // The error first, so that the end of the regeneration is never seen without it.
            if (!result.ok())
                actions->setRegenerateError(result.error().description());
            actions->setRegenerating(false);
        });
}

void MeetingActions::copySummary()
{
    if (!m_meeting)
        return;
    if (const std::optional<QString> summary = m_meeting->summary())
        putOnClipboard(*summary);
}

void MeetingActions::copyTranscript()
{
    if (!m_meeting)
        return;
    const QString transcript = m_meeting->formattedTranscript();
    if (!transcript.isEmpty())
        putOnClipboard(transcript);
}

void MeetingActions::share()
{
    if (!m_meeting || m_isSharing)
        return;
    const std::optional<QString> summary = m_meeting->summary();
    if (!summary || summary->isEmpty())
        return;
    const std::optional<QuilletCloud::ShareAuthorization> authorization = m_services.account.shareAuthorization();
    if (!authorization) {
        tell({ false, QStringLiteral("Sign in (Settings → Account) to share notes.") });
        return;
    }
    setSharing(true);
    m_services.cloud.share(*authorization, m_meeting->title(), *summary, m_meeting->date(), m_meeting->duration(), this,
        [this](const Result<QuilletCloud::ShareResult, CloudError>& result) {
            setSharing(false);
            if (!result.ok()) {
                const QString message = result.error().description();
                tell({ false, message.isEmpty() ? QStringLiteral("Something went wrong.") : message });
                return;
            }
            m_sharedUrl = result.value().url;
            putOnClipboard(*m_sharedUrl);
            tell({ true, *m_sharedUrl });
        });
}

void MeetingActions::tell(const ShareOutcome& outcome)
{
    m_unshownShareOutcome = outcome;
    if (outcome.ok)
        emit shared(outcome.text);
    else
        emit shareFailed(outcome.text);
}

void MeetingActions::openSharedLink()
{
    const QUrl link(m_sharedUrl.value_or(QString()));
    if (UrlOpener::isWebPage(link))
        m_services.urlOpener.open(link);
}

void MeetingActions::linkToEvent()
{
    if (!m_meeting || !m_linkOffer)
        return;
    m_services.eventLinks.link(*m_meeting, *m_linkOffer);
    // Saved now rather than at the loop's next turn: a save asked for also writes the archive
    // at once, where the commits of typing wait for a pause.
    m_services.store.save();
    updateLinkOffer();
}

void MeetingActions::dismissLinkBanner()
{
    if (!m_meeting)
        return;
    m_meeting->setLinkBannerDismissed(true);
}

void MeetingActions::deleteMeeting(Meeting* meeting, ModelContext& store, RecordingController& recordings)
{
    if (!meeting || !store.contains(meeting))
        return;
    recordings.releaseMeeting(*meeting);
    // The archive drops its file once the store has committed the removal, so a commit that
    // fails leaves both the stored meeting and its file.
    store.remove(meeting);
}
