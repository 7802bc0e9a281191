#include "library/MeetingSearchFilter.h"

#include "storage/Meeting.h"
#include "storage/MeetingListModel.h"

MeetingSearchFilter::MeetingSearchFilter(MeetingListModel& meetings, MeetingSearchIndex& index, QObject* parent)
    : QSortFilterProxyModel(parent)
    , m_meetings(meetings)
    , m_index(index)
{
    // An address may come back for a new meeting: a verdict goes with its meeting.
    connect(
        &meetings, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this](const QModelIndex&, int first, int last) {
            for (int row = first; row <= last; ++row)
                m_verdicts.remove(m_meetings.meetingAt(row));
        });
    connect(&meetings, &QAbstractItemModel::modelAboutToBeReset, this, [this] { m_verdicts.clear(); });
    setSourceModel(&meetings);
    connect(&index, &MeetingSearchIndex::ready, this, [this] {
        if (isSearching())
            refilter();
    });
    connect(&index, &MeetingSearchIndex::meetingChanged, this, &MeetingSearchFilter::meetingChanged);
}

Meeting* MeetingSearchFilter::meetingAt(int row) const
{
    return m_meetings.meetingAt(mapToSource(index(row, 0)).row());
}

void MeetingSearchFilter::setSearchText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    m_query = MeetingSearchIndex::Query(text);
    refilter();
}

void MeetingSearchFilter::refilter()
{
    emit searchAboutToChange();
    m_verdicts.clear();
    if (isSearching() && !isPending()) {
        // One question for the whole list: the index answers it on several threads.
        QList<Meeting*> meetings;
        meetings.reserve(m_meetings.rowCount());
        for (int row = 0; row < m_meetings.rowCount(); ++row)
            meetings.append(m_meetings.meetingAt(row));
        m_verdicts.reserve(meetings.size());
        for (const Meeting* meeting : std::as_const(meetings))
            m_verdicts.insert(meeting, false);
        for (const Meeting* meeting : m_index.filter(meetings, m_query))
            m_verdicts.insert(meeting, true);
    }
    // Dropped and asked again in one pass: telling the rows that come and go from the last
    // search's costs a pass over the whole list for each run of them.
    invalidate();
    emit searchChanged();
}

bool MeetingSearchFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    if (!isSearching())
        return true;
    if (isPending())
        return false;
    const Meeting* meeting = m_meetings.meetingAt(sourceRow);
    auto verdict = m_verdicts.find(meeting);
    if (verdict == m_verdicts.end())
        verdict = m_verdicts.insert(meeting, m_index.matches(meeting, m_query));
    return *verdict;
}

void MeetingSearchFilter::meetingChanged(Meeting* meeting)
{
    const int sourceRow = m_meetings.rowOf(meeting);
    if (sourceRow < 0)
        return;
    if (isSearching()) {
        const bool matches = m_index.matches(meeting, m_query);
        const auto verdict = m_verdicts.constFind(meeting);
        if (verdict == m_verdicts.constEnd() || *verdict != matches) {
            m_verdicts.insert(meeting, matches);
            invalidateRowsFilter();
            return;
        }
    }
    // Its texts changed, if not its place: a row on show is drawn again.
    const QModelIndex shown = mapFromSource(m_meetings.index(sourceRow, 0));
    if (shown.isValid())
        emit dataChanged(shown, shown);
}
