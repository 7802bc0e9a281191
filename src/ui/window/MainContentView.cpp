#include "ui/window/MainContentView.h"

#include "app/AppNotices.h"
#include "app/MeetingActions.h"
#include "app/RecordingController.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "ui/design/Alert.h"
#include "ui/design/Quillet.h"
#include "ui/home/HomeView.h"
#include "ui/home/NewFolderSheet.h"
#include "ui/settings/SettingsView.h"
#include "ui/sidebar/MeetingListView.h"
#include "ui/window/FixItBanner.h"
#include "ui/window/SaveProblemBanner.h"
#include "ui/workspace/MeetingPage.h"

#include <QApplication>
#include <QGuiApplication>
#include <QListView>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace {

constexpr int kSidebarMinimumWidth = 240;
constexpr int kBarAnimationMs = 200;

// The dialog that asks before a recording is interrupted; its buttons keep this order.
QMessageBox* makeStopAndStartDialog(QWidget* parent, QAbstractButton** stopAndStart)
{
    auto* dialog = new QMessageBox(parent);
    dialog->setWindowTitle(QStringLiteral("Quillet"));
    dialog->setIcon(QMessageBox::NoIcon);
    dialog->setTextFormat(Qt::PlainText);
    dialog->setWindowModality(Qt::WindowModal);
    // Action roles are laid out in the order they are added, whatever the desktop's order of
    // accept and reject buttons.
    *stopAndStart = dialog->addButton(QStringLiteral("Stop && Start"), QMessageBox::ActionRole);
    QAbstractButton* cancel = dialog->addButton(QStringLiteral("Cancel"), QMessageBox::ActionRole);
    dialog->setEscapeButton(cancel);
    dialog->setDefaultButton(qobject_cast<QPushButton*>(*stopAndStart));
    return dialog;
}

// The line above the recording bar, in the palette's mid tone of the moment: a style sheet
// would keep the colour of the theme it was first resolved in.
class BarDivider final : public QWidget
{
public:
    BarDivider()
    {
        setObjectName(QStringLiteral("barDivider"));
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Mid));
    }
};

} // namespace

MainContentView::MainContentView(const WindowServices& services, QWidget* parent)
    : MainContentView(services, Options {}, parent)
{ }

MainContentView::MainContentView(const WindowServices& services, const Options& options, QWidget* parent)
    : QWidget(parent)
    , m_services(services)
    , m_splitter(new QSplitter(Qt::Horizontal, this))
    , m_sidebar(new MeetingListView(
          { services.store, services.clock, services.updateChecker, services.account, services.searchIndex,
              services.scheduler },
          [this](Meeting* meeting) { requestNewFolder(meeting); },
          [this](Meeting* meeting) { deleteMeeting(meeting); }))
    , m_banner(new FixItBanner(services.account, services.microphonePermission, services.desktopSettings,
          [this] { m_services.notices.postOpenSettings(); }))
    , m_pageHost(new QVBoxLayout)
    , m_barArea(new QWidget)
    , m_bar(new RecordingControlView(services.recordings,
          { [this] { m_services.recordings.startAdHocRecording(); }, [this] { m_services.recordings.stopRecording(); },
              [this] { m_services.recordings.pauseRecording(); }, [this] { m_services.recordings.resumeRecording(); } },
          options.bar))
    , m_barAnimation(new QVariantAnimation(this))
{
    m_sidebar->setMinimumWidth(kSidebarMinimumWidth);

    auto* divider = new BarDivider;
    auto* barLayout = new QVBoxLayout(m_barArea);
    barLayout->setContentsMargins(0, 0, 0, 0);
    barLayout->setSpacing(0);
    barLayout->addWidget(divider);
    barLayout->addWidget(m_bar);

    auto* detail = new QWidget;
    auto* detailLayout = new QVBoxLayout(detail);
    detailLayout->setContentsMargins(0, 0, 0, 0);
    detailLayout->setSpacing(0);
    detailLayout->addWidget(new SaveProblemBanner(services.saveHealth, services.archive));
    detailLayout->addWidget(m_banner);
    m_pageHost->setContentsMargins(0, 0, 0, 0);
    detailLayout->addLayout(m_pageHost, 1);
    detailLayout->addWidget(m_barArea);

    m_splitter->addWidget(m_sidebar);
    m_splitter->addWidget(detail);
    m_splitter->setCollapsible(0, false);
    m_splitter->setCollapsible(1, false);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({ 260, 860 });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_splitter);

    m_barAnimation->setDuration(kBarAnimationMs);
    m_barAnimation->setEasingCurve(Quillet::easeInOut());
    connect(m_barAnimation, &QVariantAnimation::valueChanged, this,
        [this](const QVariant& value) { m_barArea->setMaximumHeight(value.toInt()); });
    connect(m_barAnimation, &QVariantAnimation::finished, this, [this] {
        m_barArea->setVisible(m_barWanted);
        m_barArea->setMaximumHeight(QWIDGETSIZE_MAX);
    });

    RecordingController& recordings = services.recordings;
    connect(m_sidebar, &MeetingListView::selectionChanged, this, &MainContentView::setSelection);
    connect(&recordings, &RecordingController::isRecordingChanged, this, [this] {
        if (m_services.recordings.isRecording()) {
            if (Meeting* recording = m_services.recordings.recordingMeeting())
                setSelection(SidebarItem::meeting(recording));
        }
        updateRecordingControls();
    });
    connect(&recordings, &RecordingController::showMeeting, this,
        [this](Meeting* meeting) { setSelection(SidebarItem::meeting(meeting)); });
    connect(&recordings, &RecordingController::questionChanged, this, &MainContentView::showQuestion);
    connect(&recordings, &RecordingController::joinFailed, this, [this](const QString& why) {
        if (m_joinAlert)
            m_joinAlert->deleteLater();
        m_joinAlert = openAlert(this, QStringLiteral("Couldn't join"), why);
    });
    connect(&services.notices, &AppNotices::openSettings, this, [this] { setSelection(SidebarItem::settings()); });
    // Back from the desktop's settings, the microphone may have been turned on.
    connect(qApp, &QGuiApplication::applicationStateChanged, m_banner, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            m_banner->recheckMicrophone();
    });
    connect(&services.store, &ModelContext::meetingAboutToBeRemoved, this, &MainContentView::onMeetingAboutToBeRemoved);
    connect(&services.store, &ModelContext::folderAboutToBeRemoved, this, [this](Folder* folder) {
        if (m_selection.folder() == folder)
            setSelection(SidebarItem::home());
    });

    showPageFor(m_selection);
    updateRecordingControls();
}

MainContentView::~MainContentView() = default;

// --- Selection and pages -----------------------------------------------------------------

void MainContentView::setSelection(const SidebarItem& requested)
{
    // A meeting or folder item whose record is gone shows home.
    SidebarItem item = requested;
    if ((item.kind() == SidebarItem::Kind::meeting && !item.meeting())
        || (item.kind() == SidebarItem::Kind::folder && !item.folder()))
        item = SidebarItem::home();
    const bool changed = !(item == m_selection);
    m_selection = item;
    m_sidebar->setSelection(item);
    m_banner->setVisible(item.kind() != SidebarItem::Kind::settings);
    showPageFor(item);
    updateRecordingControls();
    if (changed)
        emit selectionChanged();
}

void MainContentView::showPageFor(const SidebarItem& item)
{
    bool focusWasInPage = false;
    MeetingPageState handedOver;
    bool focusHandedOver = false;
    if (m_page) {
        // A meeting's page is made afresh for each meeting, and again when the meeting starts or
        // stops recording; then it takes over what the person had in hand on the page before.
        auto* meetingPage = qobject_cast<MeetingPage*>(m_page);
        const bool sameMeeting = item.kind() == SidebarItem::Kind::meeting
            && m_pageItem.kind() == SidebarItem::Kind::meeting && item.meeting()->id() == m_pageMeetingId;
        const bool same = item.kind() == SidebarItem::Kind::meeting
            ? sameMeeting && meetingPage && meetingPage->isLive() == item.meeting()->isRecording()
            : item == m_pageItem;
        if (same)
            return;
        if (sameMeeting && meetingPage) {
            handedOver = meetingPage->handOver();
            focusHandedOver = handedOver.focus != MeetingPageState::Focus::elsewhere;
        }
        if (m_notesOfNextRecording && item.kind() == SidebarItem::Kind::meeting && item.meeting()->isRecording()) {
            m_notesOfNextRecording = false;
            handedOver.focus = MeetingPageState::Focus::notes;
            focusHandedOver = true;
        }
        // The old page may be the one whose callback got us here: it goes on a later turn.
        focusWasInPage = m_page->isAncestorOf(QApplication::focusWidget());
        m_pageHost->removeWidget(m_page);
        m_page->hide();
        m_page->deleteLater();
        m_page = nullptr;
    }

    const auto onOpen = [this](Meeting* meeting) { setSelection(SidebarItem::meeting(meeting)); };
    RecordingController& recordings = m_services.recordings;
    const auto onRecord = [&recordings](Meeting* meeting) { recordings.startRecording(meeting); };
    const auto onNewFolder = [this](Meeting* meeting) { requestNewFolder(meeting); };
    const auto onDelete = [this](Meeting* meeting) { deleteMeeting(meeting); };
    switch (item.kind()) {
    case SidebarItem::Kind::home:
    case SidebarItem::Kind::folder:
        m_page = new HomeView(item.folder(), m_services.home, onOpen, onRecord, onNewFolder, onDelete);
        break;
    case SidebarItem::Kind::meeting:
        m_page = makeMeetingPage(*item.meeting(), std::move(handedOver));
        break;
    case SidebarItem::Kind::settings:
        m_page = new SettingsView(m_services.settings);
        break;
    }
    m_pageItem = item;
    m_pageMeetingId = item.meeting() ? item.meeting()->id() : QUuid();
    m_pageHost->addWidget(m_page);
    orderTabChain();
    // A card or row chosen by the keyboard goes on in the page it opened, not in the bar that
    // follows the old page; once the page shows, which the layout does on a later turn. The
    // notes or the chat a person was typing in keep the keyboard through a recording's start or
    // end.
    if (focusWasInPage || focusHandedOver) {
        QMetaObject::invokeMethod(
            this,
            [this, page = QPointer<QWidget>(m_page), focusWasInPage] {
                if (!page || page != m_page)
                    return;
                auto* meetingPage = qobject_cast<MeetingPage*>(page);
                if (!(meetingPage && meetingPage->restoreFocus()) && focusWasInPage)
                    focusFirstStopOfPage();
            },
            Qt::QueuedConnection);
    }
}

void MainContentView::focusNotesOfQuickNote()
{
    RecordingController& recordings = m_services.recordings;
    auto* page = qobject_cast<MeetingPage*>(m_page);
    // Started at once: its page is already in front.
    if (recordings.asking() != RecordingController::Ask::quickNote && recordings.isRecording() && page && page->isLive()
        && page->meeting() == recordings.recordingMeeting()) {
        page->focusNotes();
        return;
    }
    m_notesOfNextRecording = true;
}

void MainContentView::goHome()
{
    // Wherever the keyboard was (the toolbar, the page that goes, the menu bar), it lands on the
    // sidebar's Home row, which says where it is and acts on nothing: the top of the home page
    // is "Record now", where Enter would start a recording. It moves before the page goes, so
    // that it never falls through the controls that follow the page on the way.
    m_sidebar->setSelection(SidebarItem::home());
    m_sidebar->list()->setFocus(Qt::OtherFocusReason);
    setSelection(SidebarItem::home());
}

void MainContentView::focusFirstStopOfPage()
{
    // The chain is in reading order: the page's first stop in it is the top of the page.
    QWidget* window = this->window();
    for (QWidget* widget = window->nextInFocusChain(); widget != window; widget = widget->nextInFocusChain()) {
        if (!m_page->isAncestorOf(widget))
            continue;
        if ((widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy() && widget->isEnabled()
            && widget->isVisible()) {
            widget->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
}

bool MainContentView::focusNextPrevChild(bool next)
{
    orderTabChain();
    return QWidget::focusNextPrevChild(next);
}

void MainContentView::orderTabChain()
{
    // Each page is made after the recording bar, and widgets a page makes later (rows that
    // arrive, a panel opened) join the window's chain at its end: Qt would take them after the
    // bar. The chain is put back in reading order before each step along it.
    QWidget* window = this->window();
    QList<QWidget*> stops;
    QList<QWidget*> barStops;
    for (QWidget* widget = window->nextInFocusChain(); widget != window; widget = widget->nextInFocusChain()) {
        if (!isAncestorOf(widget) || !(widget->focusPolicy() & Qt::TabFocus) || widget->focusProxy())
            continue;
        (m_barArea->isAncestorOf(widget) ? barStops : stops).append(widget);
    }
    stops += barStops;
    for (qsizetype i = 1; i < stops.size(); ++i)
        QWidget::setTabOrder(stops.at(i - 1), stops.at(i));
}

QWidget* MainContentView::makeMeetingPage(Meeting& meeting, MeetingPageState state)
{
    MeetingPage* page = MeetingPage::make(meeting, m_services.workspace, std::move(state));
    connect(&meeting, &Meeting::isRecordingChanged, page, [this] {
        const SidebarItem item = m_pageItem;
        showPageFor(item);
    });
    return page;
}

void MainContentView::updateRecordingControls()
{
    // Left out only on the settings page while nothing records.
    const bool wanted = m_selection.kind() != SidebarItem::Kind::settings || m_services.recordings.isRecording();
    if (wanted == m_barWanted)
        return;
    m_barWanted = wanted;
    m_barAnimation->stop();
    if (!isVisible()) {
        m_barArea->setVisible(wanted);
        m_barArea->setMaximumHeight(QWIDGETSIZE_MAX);
        return;
    }
    const int from = m_barArea->isVisible() ? m_barArea->height() : 0;
    m_barArea->setMaximumHeight(from);
    m_barArea->setVisible(true);
    m_barAnimation->setStartValue(from);
    m_barAnimation->setEndValue(wanted ? m_barArea->sizeHint().height() : 0);
    m_barAnimation->start();
}

void MainContentView::onMeetingAboutToBeRemoved(Meeting* meeting)
{
    if (m_selection.meeting() == meeting)
        setSelection(SidebarItem::home());
}

void MainContentView::deleteMeeting(Meeting* meeting)
{
    MeetingActions::deleteMeeting(meeting, m_services.store, m_services.recordings);
}

// --- The recordings' question --------------------------------------------------------------

void MainContentView::showQuestion()
{
    const QString question = m_services.recordings.question();
    if (question.isEmpty()) {
        if (m_questionDialog)
            m_questionDialog->reject();
        return;
    }
    // A later request replaces the one waiting: the dialog stays up with its new words.
    if (m_questionDialog) {
        m_questionDialog->setText(question);
        return;
    }
    QAbstractButton* stopAndStart = nullptr;
    QMessageBox* dialog = makeStopAndStartDialog(this, &stopAndStart);
    dialog->setText(question);
    m_questionDialog = dialog;
    connect(dialog, &QDialog::finished, this, [this, dialog, stopAndStart] {
        const bool confirmed = dialog->clickedButton() == stopAndStart;
        if (m_questionDialog == dialog)
            m_questionDialog.clear();
        dialog->deleteLater();
        m_services.recordings.answer(confirmed);
    });
    dialog->open();
}

QMessageBox* MainContentView::switchDialog() const
{
    return m_services.recordings.asking() == RecordingController::Ask::switchRecording ? m_questionDialog.data()
                                                                                       : nullptr;
}

QMessageBox* MainContentView::quickNoteDialog() const
{
    return m_services.recordings.asking() == RecordingController::Ask::quickNote ? m_questionDialog.data() : nullptr;
}

// --- Filing ----------------------------------------------------------------------------------

void MainContentView::requestNewFolder(Meeting* meeting)
{
    // Every request is a sheet of its own.
    auto* sheet = new NewFolderSheet(m_services.store, meeting, this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->open();
}
