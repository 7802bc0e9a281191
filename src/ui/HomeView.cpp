#include "ui/HomeView.h"

#include "app/AppServices.h"
#include "storage/Folder.h"
#include "storage/Meeting.h"
#include "storage/MeetingListModel.h"
#include "ui/Quillet.h"
#include "ui/ToneLabel.h"

#include <QListView>
#include <QMenu>
#include <QSortFilterProxyModel>
#include <QVBoxLayout>

namespace {

// The meetings of one folder (or all of them), with "Untitled" for an empty title.
class FolderMeetings final : public QSortFilterProxyModel
{
public:
    FolderMeetings(Folder* folder, QObject* parent)
        : QSortFilterProxyModel(parent)
        , m_folder(folder)
    { }

    QVariant data(const QModelIndex& index, int role) const override
    {
        const QVariant value = QSortFilterProxyModel::data(index, role);
        if (role == Qt::DisplayRole && value.toString().isEmpty())
            return QStringLiteral("Untitled");
        return value;
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        if (!m_folder)
            return true;
        const QModelIndex index = sourceModel()->index(row, 0, parent);
        return index.data(MeetingListModel::FolderRole).value<Folder*>() == m_folder;
    }

private:
    QPointer<Folder> m_folder;
};

} // namespace

HomeView::HomeView(AppServices& services, Folder* folder, MeetingAction onOpen, MeetingAction onRecord,
    MeetingAction onNewFolder, MeetingAction onDelete, QWidget* parent)
    : QWidget(parent)
    , m_folder(folder)
    , m_onOpen(std::move(onOpen))
    , m_onRecord(std::move(onRecord))
    , m_onNewFolder(std::move(onNewFolder))
    , m_onDelete(std::move(onDelete))
    , m_list(new QListView(this))
{
    auto* meetings = new FolderMeetings(folder, this);
    meetings->setSourceModel(new MeetingListModel(services.store(), this));
    m_list->setModel(meetings);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setUniformItemSizes(true);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);

    auto* heading = new ToneLabel(folder ? folder->name() : QStringLiteral("Home"),
        Quillet::font(22, QFont::Normal, Quillet::Design::serif), Quillet::Tone::primary);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 0);
    layout->setSpacing(12);
    layout->addWidget(heading);
    layout->addWidget(m_list, 1);

    connect(m_list, &QListView::doubleClicked, this, [this](const QModelIndex& index) {
        if (auto* meeting = index.data(MeetingListModel::MeetingRole).value<Meeting*>())
            m_onOpen(meeting);
    });
    connect(m_list, &QWidget::customContextMenuRequested, this, &HomeView::showContextMenu);
}

Meeting* HomeView::meetingAt(const QPoint& position) const
{
    return m_list->indexAt(position).data(MeetingListModel::MeetingRole).value<Meeting*>();
}

void HomeView::showContextMenu(const QPoint& position)
{
    QPointer<Meeting> meeting(meetingAt(position));
    QMenu menu(this);
    if (meeting) {
        menu.addAction(QStringLiteral("Open"), this, [this, meeting] {
            if (meeting)
                m_onOpen(meeting);
        });
        menu.addAction(QStringLiteral("Record"), this, [this, meeting] {
            if (meeting)
                m_onRecord(meeting);
        });
        menu.addAction(QStringLiteral("Delete"), this, [this, meeting] {
            if (meeting)
                m_onDelete(meeting);
        });
    } else {
        menu.addAction(QStringLiteral("New Recording"), this, [this] { m_onRecord(nullptr); });
        menu.addAction(QStringLiteral("New Folder…"), this, [this] { m_onNewFolder(nullptr); });
    }
    menu.exec(m_list->viewport()->mapToGlobal(position));
}
