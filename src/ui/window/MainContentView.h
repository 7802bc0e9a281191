#pragma once

#include "app/WindowServices.h"
#include "ui/window/RecordingControlView.h"
#include "ui/window/SidebarItem.h"

#include <QMessageBox>
#include <QPointer>
#include <QUuid>
#include <QWidget>

class FixItBanner;
struct MeetingPageState;
class MeetingListView;
class QSplitter;
class QVariantAnimation;
class QVBoxLayout;

// The content of the main window: the sidebar beside a detail column that holds the fix-it
// banner, the page of the selection (home, a folder, a meeting, settings) and, under a divider,
// the recording bar. It owns the window's selection and the dialogs; what the window's intents
// do to recordings (the bar's start and stop, the quick note, a meeting's record action, a
// deletion) the RecordingController decides, and the window shows its question and the meeting
// it asks for. Records are held by QPointer across turns of the event loop, and the selection
// goes home when its record is removed, whoever removes it. Tab follows the window as it reads:
// the sidebar, the banners, the page from top to bottom, then the recording bar.
class MainContentView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainContentView)

public:
    struct Options
    {
        RecordingControlView::Options bar;
    };

    explicit MainContentView(const WindowServices& services, QWidget* parent = nullptr);
    MainContentView(const WindowServices& services, const Options& options, QWidget* parent = nullptr);
    ~MainContentView() override;

    SidebarItem selection() const { return m_selection; }
    void setSelection(const SidebarItem& item);

    // A quick note was asked for: its page opens with the keyboard in its notes, whether the
    // recording has started already or starts once the question before it is answered.
    void focusNotesOfQuickNote();
    // Home, chosen from the keyboard: the keyboard goes to the sidebar's Home row.
    void goHome();

    // Opens a new-folder sheet for the meeting (or for none).
    void requestNewFolder(Meeting* meeting);

    QWidget* page() const { return m_page; }
    MeetingListView* sidebar() const { return m_sidebar; }
    FixItBanner* banner() const { return m_banner; }
    RecordingControlView* recordingControls() const { return m_bar; }
    // True when the divider and the bar belong on screen (they may still be animating).
    bool showsRecordingControls() const { return m_barWanted; }
    // The recordings' question on screen, by what it asks; null when none is.
    QMessageBox* switchDialog() const;
    QMessageBox* quickNoteDialog() const;
    // The alert that says why an event's call link was not opened (null when none is up).
    QMessageBox* joinAlert() const { return m_joinAlert; }

signals:
    void selectionChanged();

protected:
    bool focusNextPrevChild(bool next) override;

private:
    void showPageFor(const SidebarItem& item);
    void deleteMeeting(Meeting* meeting);
    void orderTabChain();
    void focusFirstStopOfPage();
    QWidget* makeMeetingPage(Meeting& meeting, MeetingPageState state);
    void updateRecordingControls();
    void showQuestion();
    void onMeetingAboutToBeRemoved(Meeting* meeting);

    WindowServices m_services;

    SidebarItem m_selection;
    SidebarItem m_pageItem; // what the page shows
    QUuid m_pageMeetingId;

    QPointer<QMessageBox> m_questionDialog;
    QPointer<QMessageBox> m_joinAlert;

    QSplitter* m_splitter;
    MeetingListView* m_sidebar;
    FixItBanner* m_banner;
    QVBoxLayout* m_pageHost;
    QWidget* m_page = nullptr;
    QWidget* m_barArea;
    RecordingControlView* m_bar;
    QVariantAnimation* m_barAnimation;
    bool m_barWanted = true;
    bool m_notesOfNextRecording = false;
};
