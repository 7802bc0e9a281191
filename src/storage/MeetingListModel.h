#pragma once

#include <QAbstractListModel>
#include <QList>

class Meeting;
class ModelContext;

// Every live meeting of a context, newest first by date, following each insert, field
// change and deletion as it happens (saved or not). Meetings with equal dates keep the order
// in which they came.
class MeetingListModel final : public QAbstractListModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MeetingListModel)

public:
    enum Role {
        MeetingRole = Qt::UserRole + 1, // Meeting*
        IdRole,
        TitleRole,
        DateRole,
        DurationRole,
        IsRecordingRole,
        FolderRole, // Folder*, null when unfiled
    };
    Q_ENUM(Role)

    explicit MeetingListModel(ModelContext& context, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    Meeting* meetingAt(int row) const;
    int rowOf(const Meeting* meeting) const;

private:
    void insertMeeting(Meeting* meeting);
    void removeMeeting(Meeting* meeting);
    void updateMeeting(Meeting* meeting);
    qsizetype positionFor(const Meeting* meeting) const;

    QList<Meeting*> m_rows;
};
