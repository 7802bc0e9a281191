#pragma once

#include "account/ModelCredentials.h"
#include "summary/SummaryGenerator.h"

#include <QObject>
#include <QUuid>
#include <functional>
#include <memory>
#include <optional>

class Mailbox;
class Meeting;
class ModelContext;

// Has a meeting's summary and, where the meeting allows it, its title written by the language
// model, and stores both: the summary of a recording that just stopped, and the meeting
// view's regeneration. The title and the summary are asked for side by side; nothing of a
// run that fails is stored. Main thread only.
class MeetingSummarizer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MeetingSummarizer)
    Q_PROPERTY(bool isGeneratingSummary READ isGeneratingSummary NOTIFY isGeneratingSummaryChanged)
    Q_PROPERTY(
        QUuid generatingSummaryMeetingID READ generatingSummaryMeetingID NOTIFY generatingSummaryMeetingIDChanged)

public:
    using CredentialsProvider = std::function<std::optional<ModelCredentials>()>;
    using Result = ::Result<GeneratedTitleAndSummary, SummaryError>;
    // Runs on the main thread once the run is over; the meeting may be gone by then.
    using Completion = std::function<void(const Result& result)>;

    // credentials: asked at each summary on stop (the account's current model credentials).
    MeetingSummarizer(CredentialsProvider credentials, QObject* parent = nullptr);
    ~MeetingSummarizer() override;

    // Whether a summary on stop is being written, and for which meeting (null when none).
    bool isGeneratingSummary() const { return !m_generatingSummaryMeetingID.isNull(); }
    QUuid generatingSummaryMeetingID() const { return m_generatingSummaryMeetingID; }

    // The summary of a recording that just stopped. Does nothing when the meeting has no
    // segments, there are no credentials or the transcript is empty. Otherwise publishes the
    // meeting as being summarised until the newest such run ends (a run that ends late never
    // hides one still going), logs the outcome and ends with summaryFinished.
    void summarizeStoppedRecording(Meeting& meeting, ModelContext& context);

    // One run with the given credentials. When both answers came back and the meeting is still
    // in the context: the title is set where the meeting allows an AI title and the title is
    // not blank, the summary always; then the context is saved and the meeting archived.
    // Publishes no progress.
    void run(Meeting& meeting, ModelContext& context, const ModelCredentials& credentials, Completion done);

signals:
    void isGeneratingSummaryChanged();
    void generatingSummaryMeetingIDChanged();
    // A summary on stop failed; description is the failure's user-facing text.
    void summaryFailed(const QUuid& meetingId, const QString& description);
    // A summary on stop ended, successfully or not.
    void summaryFinished(const QUuid& meetingId);

private:
    void setProgress(const QUuid& meetingId);

    CredentialsProvider m_credentials;
    std::shared_ptr<Mailbox> m_mailbox;
    QUuid m_generatingSummaryMeetingID;
    quint64 m_latestRun = 0;
};
