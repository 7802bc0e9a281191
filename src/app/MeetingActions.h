#pragma once

#include "app/EventLinks.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>
#include <utility>

class AccountService;
class Meeting;
class MeetingSummarizer;
class ModelContext;
class QuilletCloud;
class RecordingController;
class UrlOpener;

// The commands of one meeting's workspace: writing the title and summary again, sharing the
// summary as a public link, copying the summary or the transcript, and linking a quick note to
// the calendar event it was taken in. The workspace shows the state here and forwards its
// clicks; what a command decides and which service it calls lives here, apart from any widget.
//
// The workspace makes one for each meeting it shows and hands it on when the meeting's page
// turns (a recording starts or ends), so a regeneration or a share under way is still shown
// as such on the page after the turn. A regeneration goes on after both are gone and stores its
// result on the meeting, if the meeting is still there.
class MeetingActions final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MeetingActions)
    Q_PROPERTY(bool isRegenerating READ isRegenerating NOTIFY isRegeneratingChanged)
    // Empty when the last regeneration did not fail.
    Q_PROPERTY(QString regenerateError READ regenerateErrorText NOTIFY regenerateErrorChanged)
    Q_PROPERTY(bool isSharing READ isSharing NOTIFY isSharingChanged)
    Q_PROPERTY(bool canCopySummary READ canCopySummary NOTIFY availabilityChanged)
    Q_PROPERTY(bool canCopyTranscript READ canCopyTranscript NOTIFY availabilityChanged)
    Q_PROPERTY(bool canShare READ canShare NOTIFY availabilityChanged)
    Q_PROPERTY(bool canRegenerate READ canRegenerate NOTIFY availabilityChanged)
    // The link banner's question ("Link to “Design review”?"); empty when there is no offer.
    Q_PROPERTY(QString linkPrompt READ linkPrompt NOTIFY linkOfferChanged)

public:
    struct Services
    {
        ModelContext& store;
        AccountService& account;
        MeetingSummarizer& summarizer;
        QuilletCloud& cloud;
        EventLinks& eventLinks;
        UrlOpener& urlOpener;
    };

    MeetingActions(Meeting& meeting, const Services& services, QObject* parent = nullptr);
    ~MeetingActions() override;

    bool isRegenerating() const { return m_isRegenerating; }
    std::optional<QString> regenerateError() const { return m_regenerateError; }
    QString regenerateErrorText() const { return m_regenerateError.value_or(QString()); }
    bool isSharing() const { return m_isSharing; }
    // A summary, even an empty one, can be copied; only a written one can be shared.
    bool canCopySummary() const;
    bool canCopyTranscript() const;
    bool canShare() const;
    bool canRegenerate() const;
    std::optional<EventLinks::Offer> linkOffer() const { return m_linkOffer; }
    QString linkPrompt() const;
    // The last link the share made, if any.
    std::optional<QString> sharedUrl() const { return m_sharedUrl; }

    // How a share ended: the link, or the failure in words.
    struct ShareOutcome
    {
        bool ok = false;
        QString text;
    };
    // The outcome of the last share until a page has shown it: one may end while no page that
    // shows it is there (the meeting records meanwhile). Taking it marks it shown.
    std::optional<ShareOutcome> takeUnshownShareOutcome() { return std::exchange(m_unshownShareOutcome, {}); }

    // Has the title and summary written again from the transcript. Without a way to reach the
    // provider it says so in regenerateError; without a transcript it does nothing.
    void regenerate();
    // Publishes the summary as a public link and puts the link on the clipboard; the outcome
    // arrives as shared() or shareFailed().
    void share();
    void copySummary();
    void copyTranscript();
    // Opens the shared link in the browser, if it is a web page: the server's reply is not
    // trusted to name one.
    void openSharedLink();
    // Copies the offered event's context into the meeting, saved and archived at once.
    void linkToEvent();
    void dismissLinkBanner();

    // Deletes the meeting (its record, and its archive file once the store has committed the
    // removal), stopping its recording first. Asks nothing: callers ask when they want to.
    static void deleteMeeting(Meeting* meeting, ModelContext& store, RecordingController& recordings);

signals:
    void isRegeneratingChanged();
    void regenerateErrorChanged();
    void isSharingChanged();
    void availabilityChanged();
    void linkOfferChanged();
    // The link is on the clipboard.
    void shared(const QString& url);
    // In words, for the user.
    void shareFailed(const QString& message);

private:
    void setRegenerating(bool regenerating);
    void setRegenerateError(const std::optional<QString>& error);
    void setSharing(bool sharing);
    void updateLinkOffer();
    void tell(const ShareOutcome& outcome);

    QPointer<Meeting> m_meeting;
    Services m_services;
    bool m_isRegenerating = false;
    std::optional<QString> m_regenerateError;
    bool m_isSharing = false;
    std::optional<QString> m_sharedUrl;
    std::optional<ShareOutcome> m_unshownShareOutcome;
    std::optional<EventLinks::Offer> m_linkOffer;
};
