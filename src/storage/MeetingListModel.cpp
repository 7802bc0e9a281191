#include "storage/MeetingListModel.h"

#include "storage/Folder.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"

#include <algorithm>

MeetingListModel::MeetingListModel(ModelContext& context, QObject* parent)
    : QAbstractListModel(parent)
    , m_rows(context.fetchMeetings())
{
    connect(&context, &ModelContext::meetingInserted, this, &MeetingListModel::insertMeeting);
    connect(&context, &ModelContext::meetingAboutToBeRemoved, this, &MeetingListModel::removeMeeting);
    connect(&context, &ModelContext::meetingUpdated, this, &MeetingListModel::updateMeeting);
}

int MeetingListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant MeetingListModel::data(const QModelIndex& index, int role) const
{
    const Meeting* meeting = meetingAt(index.row());
    if (!meeting || index.parent().isValid())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case TitleRole:
        return meeting->title();
    case MeetingRole:
        return QVariant::fromValue(const_cast<Meeting*>(meeting));
    case IdRole:
        return meeting->id();
    case DateRole:
        return meeting->date();
    case DurationRole:
        return meeting->duration();
    case IsRecordingRole:
        return meeting->isRecording();
    case FolderRole:
        return QVariant::fromValue(meeting->folder());
    default:
        return {};
    }
}

QHash<int, QByteArray> MeetingListModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(MeetingRole, "meeting");
    names.insert(IdRole, "id");
    names.insert(TitleRole, "title");
    names.insert(DateRole, "date");
    names.insert(DurationRole, "duration");
    names.insert(IsRecordingRole, "isRecording");
    names.insert(FolderRole, "folder");
    return names;
}

Meeting* MeetingListModel::meetingAt(int row) const
{
    return row >= 0 && row < m_rows.size() ? m_rows.at(row) : nullptr;
}

int MeetingListModel::rowOf(const Meeting* meeting) const
{
    return int(m_rows.indexOf(meeting));
}

qsizetype MeetingListModel::positionFor(const Meeting* meeting) const
{
    // After every meeting with the same or a later date.
    const auto it = std::upper_bound(m_rows.cbegin(), m_rows.cend(), meeting,
        [](const Meeting* a, const Meeting* b) { return a->date() > b->date(); });
    return it - m_rows.cbegin();
}

void MeetingListModel::insertMeeting(Meeting* meeting)
{
    if (m_rows.contains(meeting))
        return;
    const int row = int(positionFor(meeting));
    beginInsertRows({}, row, row);
    m_rows.insert(row, meeting);
    endInsertRows();
}

void MeetingListModel::removeMeeting(Meeting* meeting)
{
    const int row = rowOf(meeting);
    if (row < 0)
        return;
    beginRemoveRows({}, row, row);
    m_rows.removeAt(row);
    endRemoveRows();
}

void MeetingListModel::updateMeeting(Meeting* meeting)
{
    const int row = rowOf(meeting);
    if (row < 0)
        return;
    const bool inOrder = (row == 0 || m_rows.at(row - 1)->date() >= meeting->date())
        && (row == m_rows.size() - 1 || meeting->date() >= m_rows.at(row + 1)->date());
    if (inOrder) {
        emit dataChanged(index(row), index(row));
        return;
    }
    m_rows.removeAt(row);
    const int target = int(positionFor(meeting));
    m_rows.insert(row, meeting);
    // Qt counts the destination in the list before the move.
    beginMoveRows({}, row, row, {}, target > row ? target + 1 : target);
    m_rows.move(row, target);
    endMoveRows();
    emit dataChanged(index(target), index(target));
}
