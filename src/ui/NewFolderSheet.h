#pragma once

#include <QDialog>
#include <QPointer>

class Meeting;
class ModelContext;

// The sheet that creates a folder, filing the given meeting in it. For now it offers only
// "Cancel".
class NewFolderSheet final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NewFolderSheet)

public:
    NewFolderSheet(ModelContext& context, Meeting* assignMeeting, QWidget* parent = nullptr);

    Meeting* assignMeeting() const { return m_assignMeeting; }

private:
    QPointer<Meeting> m_assignMeeting;
};
