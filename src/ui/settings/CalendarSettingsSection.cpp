#include "ui/settings/CalendarSettingsSection.h"

#include "app/SettingsServices.h"
#include "platform/Settings.h"
#include "ui/design/Announcement.h"
#include "ui/design/EditorialLabel.h"
#include "ui/design/EnterKey.h"
#include "ui/design/PlainButton.h"
#include "ui/design/Quillet.h"
#include "ui/design/Rule.h"
#include "ui/design/SymbolView.h"
#include "ui/design/ToneLabel.h"
#include "ui/settings/CalendarRow.h"
#include "ui/settings/GoogleCalendarSettings.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// Code points, not UTF-16 units: the two order characters beyond the first 65,536 differently.
QList<uint> codePoints(const QString& text)
{
    return text.normalized(QString::NormalizationForm_C).toUcs4();
}

ToneLabel* note(const QString& text, QWidget* parent)
{
    auto* label = new ToneLabel(text, Quillet::caption(), Quillet::Tone::secondary, parent);
    label->setWordWrap(true);
    return label;
}

// A text with a button under it, spacing 8.
QWidget* textAndButton(const QString& text, QPushButton* button, QWidget* parent)
{
    auto* face = new QWidget(parent);
    auto* column = new QVBoxLayout(face);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    column->addWidget(note(text, face));
    button->setParent(face);
    column->addWidget(button, 0, Qt::AlignLeading);
    return face;
}

const QString kLegend
    = QStringLiteral("\u23FA = always record this calendar (for in-person classes/talks with no video link).");

// The legend under the list. Few desktop fonts carry the record sign it opens with; without one
// the sign is drawn as the record symbol, and the rest of the text follows it.
QWidget* legend(QWidget* parent)
{
    const QFont font = Quillet::caption2();
    if (QFontMetrics(font).inFontUcs4(0x23FA)) {
        auto* label = new ToneLabel(kLegend, font, Quillet::Tone::tertiary, parent);
        label->setWordWrap(true);
        return label;
    }
    auto* row = new QWidget(parent);
    row->setAccessibleName(kLegend);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(
        new SymbolView(QStringLiteral("record.circle"), 9.5, Quillet::Tone::tertiary, row), 0, Qt::AlignTop);
    auto* rest = new ToneLabel(kLegend.mid(1), font, Quillet::Tone::tertiary, row);
    rest->setWordWrap(true);
    layout->addWidget(rest, 1);
    return row;
}

} // namespace

QList<CalendarSettingsSection::Group> CalendarSettingsSection::groupedCalendars(
    const QList<CalendarService::CalendarInfo>& calendars)
{
    QList<Group> groups;
    for (const CalendarService::CalendarInfo& calendar : calendars) {
        auto group = std::find_if(
            groups.begin(), groups.end(), [&](const Group& g) { return g.source == calendar.sourceTitle; });
        if (group == groups.end())
            groups.append({ calendar.sourceTitle, { calendar } });
        else
            group->calendars.append(calendar);
    }
    std::sort(groups.begin(), groups.end(),
        [](const Group& a, const Group& b) { return codePoints(a.source) < codePoints(b.source); });
    return groups;
}

CalendarSettingsSection::CalendarSettingsSection(const SettingsServices& services, QWidget* parent)
    : QWidget(parent)
    , m_calendar(services.calendar)
    , m_settings(services.settings)
    , m_desktopLayout(new QVBoxLayout)
    , m_googleSettings(new GoogleCalendarSettings(services, this))
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(16);
    m_desktopLayout->setSpacing(6);
    m_desktopLayout->addWidget(new EditorialLabel(QStringLiteral("Desktop Calendar"), Quillet::Tone::secondary, this));
    // The heading stands apart from the first group's own label beneath it.
    m_desktopLayout->addSpacing(6);
    column->addLayout(m_desktopLayout);
    column->addWidget(new Rule(&Rule::separator, this));
    column->addWidget(m_googleSettings);

    connect(&m_calendar, &CalendarService::authorizationChanged, this, &CalendarSettingsSection::redraw);
    connect(&m_calendar, &CalendarService::calendarsChanged, this, &CalendarSettingsSection::redraw);
    connect(
        &m_calendar, &CalendarService::alwaysRecordVersionChanged, this, &CalendarSettingsSection::showAlwaysRecord);
    connect(&m_settings, &Settings::changed, this, [this](const QString& key) {
        if (SettingsKeys::calendarVisibility.is(key))
            showStates();
        else if (SettingsKeys::alwaysRecordCalendars.is(key))
            showAlwaysRecord();
    });
    redraw();
}

void CalendarSettingsSection::redraw()
{
    const CalendarService::Authorization authorization = m_calendar.authorization();
    const QList<CalendarService::CalendarInfo> calendars = m_calendar.calendars();
    const bool granted = authorization == CalendarService::Authorization::Granted;
    if (authorization != m_shownAuthorization || (granted && calendars != m_shownCalendars)) {
        m_shownAuthorization = authorization;
        m_shownCalendars = calendars;
        m_rows.clear();
        if (m_accessContent) {
            m_accessContent->hide();
            m_accessContent->deleteLater();
        }
        m_accessContent = makeAccessContent(authorization);
        m_desktopLayout->addWidget(m_accessContent);
        m_accessContent->show();
        keepReadingOrder();
    }
    if (m_accessProblemLine) {
        const std::optional<QString> problem = m_calendar.accessProblem();
        Announcement::setText(*m_accessProblemLine, problem.value_or(QString()));
        m_accessProblemLine->setVisible(problem.has_value());
    }
    showStates();
    showAlwaysRecord();
}

void CalendarSettingsSection::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Placed in its page, the section's stops may have joined the window's chain out of order.
    keepReadingOrder();
}

void CalendarSettingsSection::keepReadingOrder()
{
    // New widgets join the end of the window's tab chain, after Google's part and whatever
    // follows the card: Tab would reach them last. They go back in just before Google's part.
    const auto stops = [](const QWidget* root) {
        QList<QWidget*> found;
        for (QWidget* widget : root->findChildren<QWidget*>())
            if (widget->focusPolicy() & Qt::TabFocus)
                found.append(widget);
        return found;
    };
    const QList<QWidget*> desktop = stops(m_accessContent);
    const QList<QWidget*> google = stops(m_googleSettings);
    if (desktop.isEmpty() || google.isEmpty())
        return;
    // The last stop before this section, if it is in a window yet.
    QWidget* previous = google.first()->previousInFocusChain();
    while (previous != google.first() && (isAncestorOf(previous) || !(previous->focusPolicy() & Qt::TabFocus)))
        previous = previous->previousInFocusChain();
    QList<QWidget*> order = desktop + google;
    if (previous != google.first())
        order.prepend(previous);
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order.at(i - 1), order.at(i));
}

QWidget* CalendarSettingsSection::makeAccessContent(CalendarService::Authorization authorization)
{
    switch (authorization) {
    case CalendarService::Authorization::NotRequested: {
        auto* request = new QPushButton(QStringLiteral("Connect your calendar"));
        EnterKey::pressesButton(*request);
        connect(request, &QPushButton::clicked, this, [this] { m_calendar.requestAccess(); });
        QWidget* face = textAndButton(QStringLiteral("See your upcoming meetings in Quillet — online accounts, "
                                                     "local calendars, anything your computer already knows."),
            request, this);
        m_accessProblemLine = new ToneLabel({}, Quillet::caption(), Quillet::Tone::accent, face);
        m_accessProblemLine->setWordWrap(true);
        face->layout()->addWidget(m_accessProblemLine);
        return face;
    }
    case CalendarService::Authorization::Granted:
        return makeGrantedView();
    case CalendarService::Authorization::NoAccounts:
        break;
    }
    return note(
        QStringLiteral("No calendar accounts on this computer. Add accounts in Settings > Online Accounts."), this);
}

QWidget* CalendarSettingsSection::makeGrantedView()
{
    auto* view = new QWidget(this);
    auto* column = new QVBoxLayout(view);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    for (const Group& group : groupedCalendars(m_shownCalendars)) {
        auto* block = new QVBoxLayout;
        block->setSpacing(4);
        block->addWidget(new EditorialLabel(group.source, Quillet::Tone::tertiary, view));
        for (const CalendarService::CalendarInfo& calendar : group.calendars) {
            auto* row = new CalendarRow(calendar.title, calendar.color, calendar.id, m_calendar, view);
            connect(row, &CalendarRow::toggledByUser, this,
                [this, id = calendar.id](bool visible) { m_calendar.setVisible(visible, id); });
            block->addWidget(row);
            m_rows.append(row);
        }
        column->addLayout(block);
    }
    column->addWidget(legend(view));
    column->addWidget(new Rule(&Rule::separator, view));
    auto* reset
        = new PlainButton(QStringLiteral("Reset to defaults"), Quillet::caption(), Quillet::Tone::secondary, view);
    connect(reset, &QAbstractButton::clicked, this, &CalendarSettingsSection::resetToDefaults);
    column->addWidget(reset, 0, Qt::AlignLeading);
    return view;
}

void CalendarSettingsSection::resetToDefaults()
{
    // The key stays, holding no choice: every calendar falls back to its default.
    m_settings.set(SettingsKeys::calendarVisibility, CalendarVisibilityMap {});
    m_calendar.resync();
}

void CalendarSettingsSection::showStates()
{
    for (CalendarRow* row : std::as_const(m_rows))
        row->setChecked(m_calendar.isVisible(row->recordId()));
}

void CalendarSettingsSection::showAlwaysRecord()
{
    const QStringList alwaysRecorded = m_settings.get(SettingsKeys::alwaysRecordCalendars);
    for (CalendarRow* row : std::as_const(m_rows))
        row->setAlwaysRecord(alwaysRecorded.contains(row->recordId()));
}
