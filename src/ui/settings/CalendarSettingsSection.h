#pragma once

#include "calendar/CalendarService.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

class CalendarRow;
class GoogleCalendarSettings;
class QVBoxLayout;
class Settings;
struct SettingsServices;
class ToneLabel;

// The calendar card of the settings page. Above, the desktop's calendars as far as Quillet may
// read them: a request for access, the way to the desktop's settings when it was refused, or
// every calendar grouped by account, each with a box that decides whether its events are read
// and a mark for recording it always. A request that could not reach the store says so under
// its button. Below a line, the Google accounts. Everything shown is
// the calendar service's state and the stored settings, drawn again when either changes.
class CalendarSettingsSection final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CalendarSettingsSection)

public:
    struct Group
    {
        QString source;
        QList<CalendarService::CalendarInfo> calendars;

        friend bool operator==(const Group&, const Group&) = default;
    };

    // Calendars grouped by their exact source title, each group in the order given, the groups
    // ordered by the code points of their titles' canonical composition.
    static QList<Group> groupedCalendars(const QList<CalendarService::CalendarInfo>& calendars);

    explicit CalendarSettingsSection(const SettingsServices& services, QWidget* parent = nullptr);

    // The desktop calendars' rows, in the order shown (none unless access is granted).
    QList<CalendarRow*> rows() const { return m_rows; }
    GoogleCalendarSettings* google() const { return m_googleSettings; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void redraw();
    void keepReadingOrder();
    QWidget* makeAccessContent(CalendarService::Authorization authorization);
    QWidget* makeGrantedView();
    void resetToDefaults();
    void showStates();
    void showAlwaysRecord();

    CalendarService& m_calendar;
    Settings& m_settings;

    QVBoxLayout* m_desktopLayout;
    QWidget* m_accessContent = nullptr;
    // Under "Connect your calendar": why the last request went nowhere.
    QPointer<ToneLabel> m_accessProblemLine;
    GoogleCalendarSettings* m_googleSettings;

    // What the content was drawn from: it is made again only when that changes.
    std::optional<CalendarService::Authorization> m_shownAuthorization;
    QList<CalendarService::CalendarInfo> m_shownCalendars;
    QList<CalendarRow*> m_rows;
};
