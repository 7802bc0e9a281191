#pragma once

#include <QObject>
#include <QString>
#include <optional>

class Meeting;

// What the meeting view's link banner asks of the calendar: the event during which a quick
// note was taken, if it may be offered, and linking the two. CalendarEventLinks is the
// application's.
class EventLinks : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EventLinks)

public:
    struct Offer
    {
        QString eventId;
        QString title;
    };

    using QObject::QObject;

    // The event to offer for the meeting, or none.
    virtual std::optional<Offer> candidate(const Meeting& meeting) const = 0;
    // Copies the event's context into the meeting; saving and archiving is the caller's.
    virtual void link(Meeting& meeting, const Offer& offer) = 0;

signals:
    // The events changed: candidates may differ.
    void changed();
};
