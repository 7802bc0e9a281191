#include "library/MeetingDateGroup.h"

#include "storage/Meeting.h"

#include <array>
#include <limits>

namespace {

enum Bucket { Today, Yesterday, ThisWeek, Earlier, BucketCount };

} // namespace

QList<MeetingDateGroup> groupMeetingsByDate(const QList<Meeting*>& meetings, const QDateTime& now)
{
    // Each local-time conversion asks the C library for the zone, which rereads the zone file
    // when TZ is unset; so the day boundaries are worked out once, as instants, and every
    // meeting is compared by its instant alone.
    const QDateTime localNow = now.toLocalTime();
    const QDate today = localNow.date();
    const qint64 tomorrowStart = today.addDays(1).startOfDay().toMSecsSinceEpoch();
    const qint64 todayStart = today.startOfDay().toMSecsSinceEpoch();
    const qint64 yesterdayStart = today.addDays(-1).startOfDay().toMSecsSinceEpoch();
    // Calendar days, not 7 x 86,400 s: across a daylight-saving change they differ by an hour.
    const QDateTime weekBack = localNow.addDays(-7);
    // Without a boundary nothing older than yesterday counts as this week.
    const qint64 boundary = weekBack.isValid() ? weekBack.toMSecsSinceEpoch() : std::numeric_limits<qint64>::max();

    std::array<QList<Meeting*>, BucketCount> buckets;
    for (Meeting* meeting : meetings) {
        const QDateTime& date = meeting->fields().date;
        Bucket bucket = Earlier;
        if (date.isValid()) {
            const qint64 instant = date.toMSecsSinceEpoch();
            if (instant >= tomorrowStart)
                bucket = ThisWeek;
            else if (instant >= todayStart)
                bucket = Today;
            else if (instant >= yesterdayStart)
                bucket = Yesterday;
            else if (instant > boundary)
                bucket = ThisWeek;
        }
        buckets[bucket].append(meeting);
    }

    static const std::array<QString, BucketCount> titles = { QStringLiteral("Today"), QStringLiteral("Yesterday"),
        QStringLiteral("This Week"), QStringLiteral("Earlier") };
    QList<MeetingDateGroup> groups;
    for (int bucket = 0; bucket < BucketCount; ++bucket) {
        if (!buckets[bucket].isEmpty())
            groups.append({ titles[bucket], std::move(buckets[bucket]) });
    }
    return groups;
}
