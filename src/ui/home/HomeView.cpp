#include "ui/home/HomeView.h"

#include "storage/Folder.h"
#include "storage/FolderListModel.h"
#include "storage/Meeting.h"
#include "storage/MeetingListModel.h"
#include "ui/design/Quillet.h"
#include "ui/design/ReadingColumn.h"
#include "ui/design/SymbolView.h"
#include "ui/design/ToneLabel.h"
#include "ui/home/ComingUpPanel.h"
#include "ui/home/FolderHeader.h"
#include "ui/home/MeetingCardList.h"

#include <QMenu>
#include <QVBoxLayout>

namespace {

constexpr int kColumnWidth = 720;

} // namespace

HomeView::HomeView(Folder* folder, const HomeServices& services, MeetingAction onOpen, MeetingAction onRecord,
    MeetingAction onNewFolder, MeetingAction onDelete, QWidget* parent)
    : QWidget(parent)
    , m_folder(folder)
    , m_services(services)
    , m_onOpen(std::move(onOpen))
    , m_onRecord(std::move(onRecord))
    , m_onNewFolder(std::move(onNewFolder))
    , m_onDelete(std::move(onDelete))
    , m_meetings(new MeetingListModel(services.store, this))
    , m_folders(new FolderListModel(services.store, this))
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    m_scroll = new ReadingColumn(kColumnWidth, ReadingColumn::Placement::Centred, this);
    outer->addWidget(m_scroll);
    QWidget* column = m_scroll->column();
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(36, 30, 36, 28);
    layout->setSpacing(28);

    if (folder) {
        m_header = new FolderHeader(folder, column);
        layout->addWidget(m_header);
    } else {
        m_comingUp = new ComingUpPanel(
            services, [this](Meeting* meeting, bool record) { openFromPanel(meeting, record); }, column);
        layout->addWidget(m_comingUp);
    }

    auto* section = new QWidget(column);
    auto* sectionLayout = new QVBoxLayout(section);
    sectionLayout->setContentsMargins(0, 0, 0, 0);
    sectionLayout->setSpacing(22);
    if (!folder) {
        m_heading = new ToneLabel(tr("Your meetings"), Quillet::font(19, QFont::Medium, Quillet::Design::serif),
            Quillet::Tone::primary, section);
        sectionLayout->addWidget(m_heading);
    }
    m_list = new MeetingCardList(*m_meetings, services.clock,
        folder ? std::optional<QUuid>(folder->id()) : std::nullopt, /*showFolder*/ !folder, section);
    sectionLayout->addWidget(m_list);

    m_empty = new QWidget(section);
    auto* empty = new QVBoxLayout(m_empty);
    empty->setContentsMargins(0, 24, 0, 0);
    empty->setSpacing(10);
    empty->addWidget(
        new SymbolView(QStringLiteral("waveform"), 26, Quillet::Tone::tertiary, m_empty), 0, Qt::AlignHCenter);
    m_emptyText = new ToneLabel(folder ? tr("No meetings here yet \u2014 file one from its \u201C\u22EF\u201D menu.")
                                       : tr("Choose a meeting, or press record and just talk."),
        Quillet::font(12.5), Quillet::Tone::tertiary, m_empty);
    m_emptyText->setAlignment(Qt::AlignHCenter);
    m_emptyText->setWordWrap(true);
    empty->addWidget(m_emptyText);
    sectionLayout->addWidget(m_empty);
    layout->addWidget(section);
    layout->addStretch(1);

    connect(m_list, &MeetingCardList::emptyChanged, this, &HomeView::emptyChanged);
    connect(m_list, &MeetingCardList::menuRequested, this, &HomeView::showMenu);
    connect(m_list, &MeetingCardList::openRequested, this, [this](Meeting* meeting) {
        // The main window may replace this page when it opens the meeting.
        const MeetingAction open = m_onOpen;
        if (open)
            open(meeting);
    });
    emptyChanged(m_list->isEmpty());
}

HomeView::~HomeView()
{
    delete m_menu;
}

bool HomeView::showsHeading() const
{
    return m_heading && !m_heading->isHidden();
}

bool HomeView::showsEmptyState() const
{
    m_list->isEmpty(); // brings the groups up to date, which updates the empty state
    return !m_empty->isHidden();
}

QString HomeView::emptyText() const
{
    return m_emptyText->text();
}

void HomeView::emptyChanged(bool empty)
{
    m_empty->setVisible(empty);
    m_list->setVisible(!empty);
    if (m_heading)
        m_heading->setVisible(!empty);
}

void HomeView::showMenu(Meeting* meeting, const QPoint& globalPosition)
{
    delete m_menu;
    QList<Folder*> folders;
    for (int row = 0; row < m_folders->rowCount(); ++row)
        folders.append(m_folders->folderAt(row));
    m_menu = meetingContextMenu(meeting, folders, m_services.store, m_onNewFolder, m_onDelete, this);
    m_menu->setAttribute(Qt::WA_DeleteOnClose);
    m_menu->popup(globalPosition);
}

void HomeView::openFromPanel(Meeting* meeting, bool record)
{
    // Opening may replace this page: everything needed afterwards is taken first.
    const MeetingAction open = m_onOpen;
    const MeetingAction startRecording = m_onRecord;
    const QPointer<Meeting> guard = meeting;
    if (open)
        open(meeting);
    if (record && guard && startRecording)
        startRecording(guard);
}
