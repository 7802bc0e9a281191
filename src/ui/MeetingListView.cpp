#include "ui/MeetingListView.h"

#include "app/AppServices.h"
#include "storage/MeetingListModel.h"

#include <QConcatenateTablesProxyModel>
#include <QIdentityProxyModel>
#include <QListView>
#include <QMenu>
#include <QStandardItemModel>
#include <QVBoxLayout>

namespace {

// Meetings as the sidebar names them.
class MeetingTitles final : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override
    {
        const QVariant value = QIdentityProxyModel::data(index, role);
        if (role == Qt::DisplayRole && value.toString().isEmpty())
            return QStringLiteral("Untitled");
        return value;
    }
};

} // namespace

MeetingListView::MeetingListView(
    AppServices& services, MeetingAction onNewFolder, MeetingAction onDelete, QWidget* parent)
    : QWidget(parent)
    , m_onNewFolder(std::move(onNewFolder))
    , m_onDelete(std::move(onDelete))
    , m_rows(new QConcatenateTablesProxyModel(this))
    , m_list(new QListView(this))
{
    auto* home = new QStandardItemModel(this);
    home->appendRow(new QStandardItem(QStringLiteral("Home")));
    auto* titles = new MeetingTitles(this);
    titles->setSourceModel(new MeetingListModel(services.store(), this));
    m_rows->addSourceModel(home);
    m_rows->addSourceModel(titles);

    m_list->setModel(m_rows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setUniformItemSizes(true);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list);

    connect(m_list, &QListView::clicked, this, [this](const QModelIndex& index) {
        const SidebarItem item = itemAt(index.row());
        if (item == m_selection)
            return;
        m_selection = item;
        emit selectionChanged(item);
    });
    connect(m_list, &QWidget::customContextMenuRequested, this, &MeetingListView::showContextMenu);
    setSelection(m_selection);
}

SidebarItem MeetingListView::itemAt(int row) const
{
    if (row <= 0)
        return SidebarItem::home();
    auto* meeting = m_rows->index(row, 0).data(MeetingListModel::MeetingRole).value<Meeting*>();
    return meeting ? SidebarItem::meeting(meeting) : SidebarItem::home();
}

void MeetingListView::setSelection(const SidebarItem& item)
{
    m_selection = item;
    int row = -1;
    if (item.kind() == SidebarItem::Kind::home) {
        row = 0;
    } else if (Meeting* meeting = item.meeting()) {
        for (int r = 1; r < m_rows->rowCount() && row < 0; ++r)
            if (m_rows->index(r, 0).data(MeetingListModel::MeetingRole).value<Meeting*>() == meeting)
                row = r;
    }
    if (row >= 0)
        m_list->setCurrentIndex(m_rows->index(row, 0));
    else
        m_list->clearSelection();
}

void MeetingListView::showContextMenu(const QPoint& position)
{
    Meeting* meeting = itemAt(m_list->indexAt(position).row()).meeting();
    if (!meeting)
        return;
    QPointer<Meeting> target(meeting);
    QMenu menu(this);
    menu.addAction(QStringLiteral("New Folder…"), this, [this, target] {
        if (target)
            m_onNewFolder(target);
    });
    menu.addAction(QStringLiteral("Delete"), this, [this, target] {
        if (target)
            m_onDelete(target);
    });
    menu.exec(m_list->viewport()->mapToGlobal(position));
}
