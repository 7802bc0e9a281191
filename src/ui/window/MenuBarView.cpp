#include "ui/window/MenuBarView.h"

#include "app/AppNotices.h"
#include "app/AppState.h"
#include "app/RecordingActions.h"
#include "app/RecordingController.h"
#include "format/TimeText.h"
#include "platform/Clock.h"
#include "ui/design/AccessibleMenus.h"
#include "ui/design/Quillet.h"

#include <QMenu>
#include <QPainter>

namespace {

constexpr int kTitleWidth = 220;

QIcon redDot()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(Qt::red));
    painter.drawEllipse(QRectF(4, 4, 8, 8));
    QIcon icon(pixmap);
    // The row is an inactive item, but the dot stays red.
    icon.addPixmap(pixmap, QIcon::Disabled);
    return icon;
}

} // namespace

MenuBarView::MenuBarView(AppState& appState, RecordingController& recordings, RecordingActions& actions,
    ModelContext& context, const Clock& clock, AppNotices& notices, std::function<void()> openMainWindow,
    const Options& options, QObject* parent)
    : QObject(parent)
    , m_appState(appState)
    , m_recordings(recordings)
    , m_actions(actions)
    , m_context(context)
    , m_clock(clock)
    , m_notices(notices)
    , m_openMainWindow(std::move(openMainWindow))
    , m_scheduler(options.scheduler ? *options.scheduler : Scheduler::system())
    , m_tick(options.tick)
    , m_menu(std::make_unique<QMenu>())
{
    AccessibleMenus::install();
    connect(&m_appState, &AppState::recentMeetingsChanged, this, &MenuBarView::requestRebuild);
    connect(&recordings, &RecordingController::isRecordingChanged, this, [this] {
        if (m_recordings.isRecording())
            startTimer();
        else
            stopTimer();
        requestRebuild();
    });
    // Opening the menu is its appearing: the recent list is fetched again (a change rebuilds
    // the menu before it shows), and the relative dates are brought up to now.
    connect(m_menu.get(), &QMenu::aboutToShow, this, [this] {
        m_appState.refreshRecentMeetings(m_context);
        if (m_rebuildPending)
            rebuild();
        refreshRecentDates();
    });
    if (recordings.isRecording())
        startTimer();
    rebuild();
}

MenuBarView::~MenuBarView() = default;

QString MenuBarView::recordingText() const
{
    return QStringLiteral("Recording \u2014 ") + formatElapsedMinutes(m_elapsed);
}

void MenuBarView::requestRebuild()
{
    // Later, not now: the change may come from one of the menu's own actions (Start, Stop),
    // which must not be deleted while it is being triggered.
    if (std::exchange(m_rebuildPending, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_rebuildPending)
                rebuild();
        },
        Qt::QueuedConnection);
}

void MenuBarView::rebuild()
{
    m_rebuildPending = false;
    m_menu->clear();
    m_recordingRow = nullptr;
    m_recentRows.clear();

    if (m_recordings.isRecording()) {
        m_recordingRow = m_menu->addAction(redDot(), recordingText());
        m_recordingRow->setEnabled(false);
        QFont font = Quillet::font(12, QFont::Medium);
        font.setStyleHint(QFont::Monospace); // steady digits as the seconds change
        m_recordingRow->setFont(font);
        m_menu->addSeparator();
    }
    // The one of the two that can be chosen now.
    m_menu->addAction(m_recordings.isRecording() ? m_actions.stop() : m_actions.start());
    m_menu->addSeparator();

    const QList<RecentMeetingInfo> recent = m_appState.recentMeetings();
    if (!recent.isEmpty()) {
        QAction* header = m_menu->addAction(QStringLiteral("Recent"));
        header->setEnabled(false);
        header->setFont(Quillet::caption());
        for (const RecentMeetingInfo& info : recent) {
            // A row brings the window back; it does not select its meeting.
            QAction* row = m_menu->addAction(QString(), this, [this] { m_openMainWindow(); });
            row->setData(QVariant::fromValue(info.date));
            row->setProperty("title", info.title);
            m_recentRows.append(row);
        }
        refreshRecentDates();
        m_menu->addSeparator();
    }

    m_menu->addAction(QStringLiteral("Open Quillet"), this, [this] { m_openMainWindow(); })
        ->setShortcut(QKeySequence(QStringLiteral("Ctrl+O")));
    m_menu
        ->addAction(QStringLiteral("Settings..."), this,
            [this] {
                m_openMainWindow();
                m_notices.postOpenSettings();
            })
        ->setShortcut(QKeySequence(QStringLiteral("Ctrl+,")));
    m_menu->addSeparator();
    // The shell saves first, and says so when that fails.
    m_menu->addAction(QStringLiteral("Quit Quillet"), &m_notices, &AppNotices::postQuit)
        ->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
}

void MenuBarView::refreshRecentDates()
{
    // The title on one line, the date where a menu shows shortcuts.
    const QFontMetrics metrics(m_menu->font());
    const QDateTime now = m_clock.now();
    for (QAction* row : std::as_const(m_recentRows)) {
        // A menu takes "&" for a mnemonic; titles are shown as written.
        const QString title = metrics.elidedText(row->property("title").toString(), Qt::ElideRight, kTitleWidth)
                                  .replace(u'&', QStringLiteral("&&"));
        row->setText(title + u'\t' + formatRelativeDate(row->data().toDateTime(), now));
    }
}

void MenuBarView::startTimer()
{
    ++m_generation;
    m_elapsed = 0;
    scheduleTick(m_generation);
}

void MenuBarView::stopTimer()
{
    ++m_generation;
    m_elapsed = 0;
}

void MenuBarView::scheduleTick(quint64 generation)
{
    m_scheduler.schedule(m_tick, this, [this, generation] {
        if (generation != m_generation)
            return;
        m_elapsed += 1;
        if (m_recordingRow)
            m_recordingRow->setText(recordingText());
        scheduleTick(generation);
    });
}
