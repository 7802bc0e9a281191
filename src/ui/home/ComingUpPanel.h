#pragma once

#include "app/HomeServices.h"
#include "library/ComingUpAgenda.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <functional>

class EditorialLabel;
class MinuteTicker;
class QPushButton;
class QVBoxLayout;
class ToneLabel;

namespace ComingUp {
class DayList;
class HeroCard;
} // namespace ComingUp

// The top of the home page: the coming week's calendar meetings, the one running or about to
// start standing out with "Record now" and "Join", the others by day as quiet rows; or, while
// no events can be read, a card that asks for calendar access (and says why the last request
// went nowhere) or offers Google.
//
// It is evaluated when shown, at the start of every minute while shown, and whenever the
// calendar service publishes; each evaluation starts from scratch, but only the parts whose
// text changed are touched, so a minute that changes nothing visible builds no widget.
class ComingUpPanel final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ComingUpPanel)

public:
    // Opens the meeting of an event; record is true only from "Record now".
    using OpenAction = std::function<void(Meeting* meeting, bool record)>;

    // What the panel shows instead of the list while no events can be read.
    enum class Card { none, connect, noAccounts };

    ComingUpPanel(const HomeServices& services, OpenAction onOpen, QWidget* parent = nullptr);
    ~ComingUpPanel() override;

    // What the last evaluation found (for the page's tests and benchmark).
    Card card() const { return m_card; }
    const ComingUpAgenda& agenda() const { return m_agenda; }
    int evaluations() const { return m_evaluations; }
    bool isTicking() const;

    // What is on screen: the connect card's message and its buttons (null when not shown), the
    // hero (null when there is none), the day groups' titles and rows, the hidden count.
    QString cardMessage() const;
    QPushButton* cardButton() const;
    QPushButton* googleButton() const;
    bool showsNothingThisWeek() const;
    ComingUp::HeroCard* hero() const;
    QStringList groupTitles() const;
    ComingUp::DayList* dayList() const { return m_days; }
    QString hiddenCountText() const;
    // The alert that says why "Join" opened nothing (null when none is up).
    QMessageBox* joinAlert() const { return m_joinAlert; }

public slots:
    void evaluate();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void showCard(Card card);
    // Under "Connect your calendar": why the last request went nowhere.
    void showAccessProblem();
    void showList(const ComingUpAgenda& agenda);
    void openEvent(const CalendarService::EventInfo& event, bool record);
    void showJoinFailure(const QString& why);

    HomeServices m_services;
    OpenAction m_onOpen;
    MinuteTicker* m_ticker;

    Card m_card = Card::none;
    bool m_cardGoogle = false;
    ComingUpAgenda m_agenda;
    bool m_listShown = false;
    int m_evaluations = 0;

    // The connect card.
    QWidget* m_cardPart;
    ToneLabel* m_cardMessage;
    ToneLabel* m_cardProblem;
    QPushButton* m_cardButton;
    QPushButton* m_googleButton;
    // The list.
    QWidget* m_listPart;
    ToneLabel* m_nothing;
    ComingUp::HeroCard* m_hero;
    ComingUp::DayList* m_days;
    QVBoxLayout* m_listLayout;
    ToneLabel* m_hidden;
    QPointer<QMessageBox> m_joinAlert;
};
