#include "storage/FolderListModel.h"

#include "storage/Folder.h"
#include "storage/ModelContext.h"

#include <algorithm>

FolderListModel::FolderListModel(ModelContext& context, QObject* parent)
    : QAbstractListModel(parent)
    , m_rows(context.fetchFolders())
{
    for (Folder* folder : std::as_const(m_rows))
        watch(folder);
    connect(&context, &ModelContext::folderInserted, this, &FolderListModel::insertFolder);
    connect(&context, &ModelContext::folderAboutToBeRemoved, this, &FolderListModel::removeFolder);
    connect(&context, &ModelContext::folderUpdated, this, &FolderListModel::updateFolder);
}

void FolderListModel::watch(Folder* folder)
{
    // Filing changes no field of the folder, but the count it shows.
    connect(folder, &Folder::meetingsChanged, this, [this, folder] {
        const int row = rowOf(folder);
        if (row >= 0)
            emit dataChanged(index(row), index(row), { MeetingCountRole });
    });
}

int FolderListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant FolderListModel::data(const QModelIndex& index, int role) const
{
    Folder* folder = folderAt(index.row());
    if (!folder || index.parent().isValid())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case NameRole:
        return folder->name();
    case FolderRole:
        return QVariant::fromValue(folder);
    case IdRole:
        return folder->id();
    case IconRole:
        return folder->icon();
    case DetailRole:
        return folder->detail();
    case MeetingCountRole:
        return int(folder->meetings().size());
    default:
        return {};
    }
}

QHash<int, QByteArray> FolderListModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(FolderRole, "folder");
    names.insert(IdRole, "id");
    names.insert(NameRole, "name");
    names.insert(IconRole, "icon");
    names.insert(DetailRole, "detail");
    names.insert(MeetingCountRole, "meetingCount");
    return names;
}

Folder* FolderListModel::folderAt(int row) const
{
    return row >= 0 && row < m_rows.size() ? m_rows.at(row) : nullptr;
}

int FolderListModel::rowOf(const Folder* folder) const
{
    return int(m_rows.indexOf(folder));
}

qsizetype FolderListModel::positionFor(const Folder* folder) const
{
    const auto it = std::upper_bound(m_rows.cbegin(), m_rows.cend(), folder,
        [](const Folder* a, const Folder* b) { return a->createdAt() < b->createdAt(); });
    return it - m_rows.cbegin();
}

void FolderListModel::insertFolder(Folder* folder)
{
    if (m_rows.contains(folder))
        return;
    const int row = int(positionFor(folder));
    beginInsertRows({}, row, row);
    m_rows.insert(row, folder);
    endInsertRows();
    watch(folder);
}

void FolderListModel::removeFolder(Folder* folder)
{
    const int row = rowOf(folder);
    if (row < 0)
        return;
    disconnect(folder, nullptr, this, nullptr);
    beginRemoveRows({}, row, row);
    m_rows.removeAt(row);
    endRemoveRows();
}

void FolderListModel::updateFolder(Folder* folder)
{
    const int row = rowOf(folder);
    if (row < 0)
        return;
    const bool inOrder = (row == 0 || m_rows.at(row - 1)->createdAt() <= folder->createdAt())
        && (row == m_rows.size() - 1 || folder->createdAt() <= m_rows.at(row + 1)->createdAt());
    if (inOrder) {
        emit dataChanged(index(row), index(row));
        return;
    }
    m_rows.removeAt(row);
    const int target = int(positionFor(folder));
    m_rows.insert(row, folder);
    beginMoveRows({}, row, row, {}, target > row ? target + 1 : target);
    m_rows.move(row, target);
    endMoveRows();
    emit dataChanged(index(target), index(target));
}
