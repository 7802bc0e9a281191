#pragma once

#include "calendar/GoogleCalendarService.h"

#include <QList>
#include <QPair>
#include <QWidget>

class CalendarRow;
class CalendarService;
class GoogleCalendarAPI;
class QPushButton;
class QVBoxLayout;
class Settings;
struct SettingsServices;
class Spinner;
class ToneLabel;

// The Google half of the settings' calendar card: each connected account with its calendars
// (ticked ones feed the upcoming meetings) and their always-record marks, the connect button,
// the service's last error, and a note when this build has no Google client. Everything shown
// is the Google service's state, drawn again when it publishes.
class GoogleCalendarSettings final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GoogleCalendarSettings)

public:
    explicit GoogleCalendarSettings(const SettingsServices& services, QWidget* parent = nullptr);

    // Every calendar row of every account, in the order shown.
    QList<CalendarRow*> rows() const;
    Spinner* spinner() const { return m_spinner; }
    QPushButton* connectButton() const { return m_connect; }

private:
    using Shape = QList<QPair<QString, QString>>; // each account's sub and e-mail

    void redraw();
    void redrawAccounts();
    QWidget* makeAccountBlock(const GoogleCalendarService::ConnectedAccount& account);
    void showStates();
    void showAlwaysRecord();
    void select(const QString& sub, const QString& calendarId, bool selected);
    void chooseCalendars(const QString& sub);

    GoogleCalendarService& m_google;
    CalendarService& m_calendar;
    const GoogleCalendarAPI& m_api;
    Settings& m_settings;

    Spinner* m_spinner;
    QWidget* m_accounts;
    QVBoxLayout* m_accountsLayout;
    ToneLabel* m_noAccounts;
    ToneLabel* m_error;
    QPushButton* m_connect;

    // What the account blocks were drawn from: they are made again only when it changes.
    Shape m_shownShape;
    GoogleCalendarService::CalendarsByAccount m_shownCalendars;
    bool m_drawn = false;
    struct ShownRow
    {
        CalendarRow* row;
        QString sub;
    };
    QList<ShownRow> m_rows;
};
