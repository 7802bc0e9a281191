#include "summary/MeetingSummarizer.h"

#include "platform/Log.h"
#include "platform/Mailbox.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "summary/SummaryPrompts.h"

#include <QPointer>

MeetingSummarizer::MeetingSummarizer(CredentialsProvider credentials, QObject* parent)
    : QObject(parent)
    , m_credentials(std::move(credentials))
    , m_mailbox(std::make_shared<Mailbox>(this))
{ }

MeetingSummarizer::~MeetingSummarizer()
{
    // Runs still under way end with the generators (children of this object), reporting to
    // nobody.
    m_mailbox->close();
}

void MeetingSummarizer::setProgress(const QUuid& meetingId)
{
    const bool wasGenerating = isGeneratingSummary();
    if (m_generatingSummaryMeetingID == meetingId)
        return;
    m_generatingSummaryMeetingID = meetingId;
    emit generatingSummaryMeetingIDChanged();
    if (wasGenerating != isGeneratingSummary())
        emit isGeneratingSummaryChanged();
}

void MeetingSummarizer::summarizeStoppedRecording(Meeting& meeting, ModelContext& context)
{
    if (meeting.segments().isEmpty())
        return;
    const std::optional<ModelCredentials> credentials = m_credentials ? m_credentials() : std::nullopt;
    if (!credentials)
        return;
    if (meeting.formattedTranscript().isEmpty())
        return;

    const quint64 runNumber = ++m_latestRun;
    const QUuid meetingId = meeting.id();
    setProgress(meetingId);
    run(meeting, context, *credentials,
        [this, runNumber, meetingId, target = QPointer<Meeting>(&meeting)](const Result& result) {
            if (runNumber == m_latestRun)
                setProgress(QUuid());
            if (!result.ok()) {
                const QString description = result.error().description();
                Log::line("[Quillet] Summary generation failed: %@", result.error().logText());
                emit summaryFailed(meetingId, description);
            } else {
                const std::optional<QString>& title = result.value().title;
                const bool hasTitle = title && !title->trimmed().isEmpty();
                Log::line(
                    "[Quillet] Summary generated: %@", hasTitle ? *title : (target ? target->title() : QString()));
            }
            emit summaryFinished(meetingId);
        });
}

void MeetingSummarizer::run(
    Meeting& meeting, ModelContext& context, const ModelCredentials& credentials, Completion done)
{
    auto* generator = new SummaryGenerator(credentials, this);
    const QPointer<Meeting> target(&meeting);
    const QPointer<ModelContext> targetContext(&context);
    const auto finish = [generator, target, targetContext, done = std::move(done)](const Result& result) {
        generator->deleteLater();
        // A meeting deleted meanwhile gets nothing: archiving it would write its file again,
        // and the next import would bring it back. A removed meeting leaves the context's
        // meetings at once, before the save that destroys it.
        const bool stillStored = target && targetContext && targetContext->contains(target);
        if (result.ok() && stillStored) {
            const GeneratedTitleAndSummary& value = result.value();
            // A title that is blank once cleaned up is no title: it must not wipe the one the
            // meeting has.
            if (value.title && !value.title->trimmed().isEmpty() && target->allowsAITitle())
                target->setTitle(*value.title);
            target->setSummary(value.summary);
            targetContext->save();
        }
        if (done)
            done(result);
    };
    // The answer arrives on the generator's thread.
    generator
        ->generateTitleAndSummary(
            meeting.formattedTranscript(), meeting.userNotes(), SummaryPrompts::calendarContext(meeting))
        .then([mailbox = m_mailbox, finish](
                  const Result& result) { mailbox->post([finish, result] { finish(result); }); });
}
