#include "calendar/MeetingClassifier.h"

#include <QStringList>

namespace {

// Words that make a small event without a call link a meeting. Lower case, precomposed.
const QStringList kMeetingKeywords {
    QStringLiteral("meeting"),
    QStringLiteral("call"),
    QStringLiteral("sync"),
    QStringLiteral("1:1"),
    QStringLiteral("1-1"),
    QStringLiteral("standup"),
    QStringLiteral("interview"),
    QStringLiteral("workshop"),
    QStringLiteral("demo"),
    QStringLiteral("pitch"),
    QStringLiteral("kickoff"),
    QStringLiteral("catch up"),
    QStringLiteral("livestream"),
    QStringLiteral("live stream"),
    QStringLiteral("presentation"),
    QStringLiteral("họp"),
    QStringLiteral("phỏng vấn"),
    QStringLiteral("hội thảo"),
    QStringLiteral("seminar"),
    QStringLiteral("webinar"),
    QStringLiteral("talk"),
    QStringLiteral("thuyết trình"),
    QStringLiteral("gặp"),
};

// Words that make any guess unsure: the event is probably time kept free.
const QStringList kNonMeetingKeywords {
    QStringLiteral("lunch"),
    QStringLiteral("ăn"),
    QStringLiteral("gym"),
    QStringLiteral("workout"),
    QStringLiteral("commute"),
    QStringLiteral("sauna"),
    QStringLiteral("break"),
    QStringLiteral("nghỉ"),
    QStringLiteral("focus"),
    QStringLiteral("deep work"),
};

bool containsAny(const QString& text, const QStringList& words)
{
    for (const QString& word : words) {
        if (text.contains(word))
            return true;
    }
    return false;
}

} // namespace

Classification MeetingClassifier::classify(
    bool hasCallLink, int participantCount, bool alwaysRecord, const QString& title)
{
    // Other programs may write a title decomposed; the tables are precomposed.
    const QString lowered = title.normalized(QString::NormalizationForm_C).toLower();
    Classification result;
    bool confident = true;
    if (hasCallLink) {
        result.kind = participantCount > 4 ? EventKind::Webinar : EventKind::Meeting;
    } else {
        if (participantCount >= 3)
            result.kind = EventKind::Meeting;
        else if (participantCount == 2)
            result.kind = EventKind::OneOnOne;
        else if (alwaysRecord)
            result.kind = EventKind::Session;
        else
            result.kind = containsAny(lowered, kMeetingKeywords) ? EventKind::Meeting : EventKind::Skip;
        confident = participantCount > 1 || alwaysRecord;
    }
    result.highConfidence = confident && !containsAny(lowered, kNonMeetingKeywords);
    return result;
}
