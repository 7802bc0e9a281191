#pragma once

#include "app/WindowServices.h"
#include "platform/Scheduler.h"
#include "ui/window/RecordingControlView.h"
#include "ui/window/SidebarItem.h"

#include <QMessageBox>
#include <QPointer>
#include <QUrl>
#include <QUuid>
#include <QWidget>
#include <chrono>
#include <optional>

class FixItBanner;
class MeetingListView;
class QSplitter;
class QVariantAnimation;
class QVBoxLayout;

// The content of the main window: the sidebar beside a detail column that holds the fix-it
// banner, the page of the selection (home, a folder, a meeting, settings) and, under a divider,
// the recording bar. It owns the window's selection and turns the window's intents into
// recordings: the bar's start, the quick note, a meeting's record action, and a reminder's
// open-and-record request, asking before it interrupts a recording. Records are held by
// identifier or QPointer across turns of the event loop: a removed record is destroyed after
// the save that commits the removal, and the selection goes home when its record is removed,
// whoever removes it. Tab follows the window as it reads: the sidebar, the banners, the page
// from top to bottom, then the recording bar.
class MainContentView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainContentView)

public:
    struct Options
    {
        Scheduler* scheduler = nullptr; // null: Scheduler::system()
        // After an ad-hoc start, the new meeting is selected this much later.
        std::chrono::milliseconds followUpDelay { 300 };
        RecordingControlView::Options bar;
    };

    explicit MainContentView(const WindowServices& services, QWidget* parent = nullptr);
    MainContentView(const WindowServices& services, const Options& options, QWidget* parent = nullptr);
    ~MainContentView() override;

    SidebarItem selection() const { return m_selection; }
    void setSelection(const SidebarItem& item);

    // The housekeeping of each time the window is shown anew: repairs recordings left open,
    // drops empty meetings, refreshes the recent list, back-fills the archive and starts the
    // calendar's automatic start.
    void runHousekeeping();

    // A recording into a new meeting, which is selected shortly after.
    void startAdHocRecording();
    // The home page's record action: into the meeting (a new one when null); asks first when
    // another meeting records.
    void startRecording(Meeting* into);
    // A reminder's request: selects the event's meeting and records it, asking first when
    // another meeting records; an event no longer current starts a new recording when none runs.
    void handleOpenAndRecord(const QString& eventId);
    // Records into the meeting and opens the call link at once, whatever the start gave.
    void startEventCapture(Meeting* meeting, const std::optional<QUrl>& callLink);
    // The toolbar's quick note: a new recording, asking first when one runs.
    void quickNote();
    // Deletes the meeting (its record, and its archive file once the store has committed the
    // removal), stopping its recording first. Asks nothing: callers ask when they want to.
    void deleteMeeting(Meeting* meeting);
    // Opens a new-folder sheet for the meeting (or for none).
    void requestNewFolder(Meeting* meeting);

    // The newest meeting flagged as recording.
    Meeting* currentRecordingMeeting() const;

    QWidget* page() const { return m_page; }
    MeetingListView* sidebar() const { return m_sidebar; }
    FixItBanner* banner() const { return m_banner; }
    RecordingControlView* recordingControls() const { return m_bar; }
    // True when the divider and the bar belong on screen (they may still be animating).
    bool showsRecordingControls() const { return m_barWanted; }
    QMessageBox* switchDialog() const { return m_switchDialog; }
    QMessageBox* quickNoteDialog() const { return m_quickNoteDialog; }

signals:
    void selectionChanged();

protected:
    bool focusNextPrevChild(bool next) override;

private:
    void showPageFor(const SidebarItem& item);
    void orderTabChain();
    void focusFirstStopOfPage();
    QWidget* makeMeetingPage(Meeting& meeting);
    void updateRecordingControls();
    void askToSwitch(Meeting* meeting, const std::optional<QUrl>& callLink);
    void stopRecording();
    void onMeetingAboutToBeRemoved(Meeting* meeting);

    WindowServices m_services;
    Scheduler& m_scheduler;
    std::chrono::milliseconds m_followUpDelay;

    SidebarItem m_selection;
    SidebarItem m_pageItem; // what the page shows
    QUuid m_pageMeetingId;

    // The recording waiting for "Stop & Start": its meeting by identifier, so that a meeting
    // deleted meanwhile starts nothing.
    struct PendingRecord
    {
        QUuid meetingId;
        std::optional<QUrl> callLink;
    };
    std::optional<PendingRecord> m_pendingRecord;
    QPointer<QMessageBox> m_switchDialog;
    QPointer<QMessageBox> m_quickNoteDialog;

    QSplitter* m_splitter;
    MeetingListView* m_sidebar;
    FixItBanner* m_banner;
    QVBoxLayout* m_pageHost;
    QWidget* m_page = nullptr;
    QWidget* m_barArea;
    RecordingControlView* m_bar;
    QVariantAnimation* m_barAnimation;
    bool m_barWanted = true;
};
