#pragma once

#include <QPointer>
#include <QWidget>

class Clock;
class EditorialLabel;
class Meeting;
class ModelContext;
class QCheckBox;
class RecordingController;

// The top of a meeting's page: the title, edited in place, above the meta row with the
// date, the length, the recording state and the offer to start recording by itself. Both pages
// of a meeting have one; `spacing` is the page's own, between the title and the row.
class MeetingHeader final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MeetingHeader)

public:
    MeetingHeader(
        Meeting& meeting, RecordingController& recordings, const Clock& clock, int spacing, QWidget* parent = nullptr);
    ~MeetingHeader() override;

private:
    class TitleField;

    void updateTitle();
    void updateMeta();

    QPointer<Meeting> m_meeting;
    RecordingController& m_recordings;
    const Clock& m_clock;
    bool m_titleFromField = false;

    TitleField* m_title;
    EditorialLabel* m_dateLabel;
    EditorialLabel* m_durationLabel;
    QWidget* m_recordingStatus;
    QWidget* m_recordingDot;
    QWidget* m_pausedDot;
    EditorialLabel* m_recordingLabel;
    QCheckBox* m_autoStart;
};
