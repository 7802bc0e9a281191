#pragma once

// The layer's own headers say Q_SIGNALS: the EDS implementation is compiled with QT_NO_KEYWORDS,
// because a GDBus struct has a member named "signals".
#include <QColor>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <optional>

// One event calendar of the desktop's calendar store.
struct StoreCalendar
{
    QString id;
    QString title;
    // The account the calendar belongs to, else its group ("On This Computer"), else "Other".
    QString sourceTitle;
    // Always valid: a calendar without a colour of its own gets kFallbackColor.
    QColor color;
    // False for birthdays and subscribed feeds, which most people do not want listed.
    bool defaultVisible = true;

    friend bool operator==(const StoreCalendar&, const StoreCalendar&) = default;
};

struct StoreAttendee
{
    enum class Type { Individual, Group, Resource, Room, Unknown };
    enum class Status { NeedsAction, Accepted, Declined, Tentative, Delegated, Other };

    QString name; // the common name; empty when the invitation gives none
    QUrl address; // usually "mailto:..."
    Type type = Type::Individual;
    Status status = Status::NeedsAction;
    bool isCurrentUser = false;

    friend bool operator==(const StoreAttendee&, const StoreAttendee&) = default;
};

// One occurrence of an event: a repeating event gives one per occurrence in the window.
struct StoreEvent
{
    // Stable across reads and restarts, different per calendar and per occurrence.
    QString id;
    QString calendarId;
    QString title; // null when the event has none
    QDateTime start;
    QDateTime end;
    bool allDay = false;
    QString url; // the URL property as written; empty when absent
    std::optional<QString> location;
    std::optional<QString> notes;
    std::optional<QString> organizerName;
    QList<StoreAttendee> attendees; // in the event's order

    friend bool operator==(const StoreEvent&, const StoreEvent&) = default;
};

// The desktop's calendar store: its calendars, the occurrences of a time window and a signal
// when either changes. Every answer arrives later, on the caller's thread, and is dropped when
// the context object is gone by then. Main thread only.
class CalendarStore : public QObject
{
    Q_OBJECT

public:
    // No refusal: the desktop's calendar store has no per-application permission, and a store
    // that cannot be reached answers with no calendars.
    enum class Access { NotDetermined, FullAccess };
    Q_ENUM(Access)

    struct AccessAnswer
    {
        bool granted = false;
        // Set when the request itself failed.
        std::optional<QString> error;
    };

    using AccessCallback = std::function<void(const AccessAnswer&)>;
    using CalendarsCallback = std::function<void(const QList<StoreCalendar>&)>;
    using EventsCallback = std::function<void(const QList<StoreEvent>&)>;

    static inline const QColor kFallbackColor { 0x8e, 0x8e, 0x93 };

    using QObject::QObject;

    virtual Access access() const = 0;
    virtual void requestAccess(QObject* context, AccessCallback done) = 0;

    // The enabled event calendars, in no particular order. A store that cannot be reached
    // answers an empty list.
    virtual void fetchCalendars(QObject* context, CalendarsCallback done) = 0;

    // The occurrences that overlap [start, end) in the given calendars, calendar by calendar
    // in the given order, each calendar's by start. A calendar that cannot be read is left out.
    virtual void fetchEvents(const QStringList& calendarIds, const QDateTime& start, const QDateTime& end,
        QObject* context, EventsCallback done)
        = 0;

Q_SIGNALS:
    // The calendars or the events of the last read window changed. Reading never causes it.
    void changed();
};
