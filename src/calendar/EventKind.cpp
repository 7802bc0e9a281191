#include "calendar/EventKind.h"

#include <array>
#include <utility>

namespace {

const std::array<std::pair<EventKind, QLatin1String>, 5> kRawValues { {
    { EventKind::Meeting, QLatin1String("Meeting") },
    { EventKind::OneOnOne, QLatin1String("1:1") },
    { EventKind::Webinar, QLatin1String("Webinar") },
    { EventKind::Session, QLatin1String("Class") },
    { EventKind::Skip, QLatin1String("") },
} };

} // namespace

QString rawValue(EventKind kind)
{
    for (const auto& [candidate, raw] : kRawValues) {
        if (candidate == kind)
            return raw;
    }
    return {};
}
