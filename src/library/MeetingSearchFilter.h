#pragma once

#include "library/MeetingSearchIndex.h"

#include <QHash>
#include <QSortFilterProxyModel>

class Meeting;
class MeetingListModel;

// The meetings of a list that the search text keeps, in the list's order. The whole list is
// asked of the index once per search text; from then on only the meeting whose title, notes or
// transcript changed is asked again, and one that starts or stops matching comes or goes.
// Until the index is ready a search keeps no meeting (isPending()), and its answer comes with
// ready(). Must not outlive the list or the index.
class MeetingSearchFilter final : public QSortFilterProxyModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MeetingSearchFilter)
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchChanged)

public:
    MeetingSearchFilter(MeetingListModel& meetings, MeetingSearchIndex& index, QObject* parent = nullptr);

    QString searchText() const { return m_text; }
    void setSearchText(const QString& text);
    bool isSearching() const { return !m_query.isEmpty(); }
    // Searching while the index is not ready yet.
    bool isPending() const { return isSearching() && !m_index.isReady(); }

    Meeting* meetingAt(int row) const;

signals:
    // Around a new search text or the index's first answer: the rows in between come and go
    // many at a time, and only the result counts.
    void searchAboutToChange();
    void searchChanged();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    void refilter();
    void meetingChanged(Meeting* meeting);

    MeetingListModel& m_meetings;
    MeetingSearchIndex& m_index;
    QString m_text;
    MeetingSearchIndex::Query m_query;
    // Whether each meeting matches the current search; a meeting not in it yet is asked when
    // its row is.
    mutable QHash<const Meeting*, bool> m_verdicts;
};
