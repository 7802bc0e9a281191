#include "library/SidebarSections.h"

#include "library/MeetingDateGroup.h"
#include "library/MeetingSearchFilter.h"
#include "platform/Clock.h"
#include "storage/Folder.h"
#include "storage/FolderListModel.h"
#include "storage/Meeting.h"

SidebarSections::SidebarSections(
    MeetingSearchFilter& meetings, FolderListModel& folders, const Clock& clock, QObject* parent)
    : QAbstractProxyModel(parent)
    , m_meetings(meetings)
    , m_folders(folders)
    , m_clock(clock)
{
    setSourceModel(&meetings);
    for (QAbstractItemModel* source :
        { static_cast<QAbstractItemModel*>(&meetings), static_cast<QAbstractItemModel*>(&folders) }) {
        connect(source, &QAbstractItemModel::rowsInserted, this, &SidebarSections::rebuild);
        connect(source, &QAbstractItemModel::rowsRemoved, this, &SidebarSections::rebuild);
        connect(source, &QAbstractItemModel::rowsMoved, this, &SidebarSections::rebuild);
        connect(source, &QAbstractItemModel::modelReset, this, &SidebarSections::rebuild);
        connect(source, &QAbstractItemModel::layoutChanged, this, &SidebarSections::rebuild);
    }
    connect(&meetings, &QAbstractItemModel::dataChanged, this,
        [this](const QModelIndex& from, const QModelIndex& to) { meetingsChanged(from.row(), to.row()); });
    connect(&folders, &QAbstractItemModel::dataChanged, this,
        [this](const QModelIndex& from, const QModelIndex& to) { foldersChanged(from.row(), to.row()); });
    // A new search text comes and goes row by row: the list is laid out once, at the end.
    connect(&meetings, &MeetingSearchFilter::searchAboutToChange, this, [this] { m_holding = true; });
    connect(&meetings, &MeetingSearchFilter::searchChanged, this, [this] {
        m_holding = false;
        rebuild();
    });
    rebuild();
}

QModelIndex SidebarSections::index(int row, int column, const QModelIndex& parent) const
{
    return hasIndex(row, column, parent) ? createIndex(row, column) : QModelIndex();
}

int SidebarSections::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

Qt::ItemFlags SidebarSections::flags(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this || index.row() >= m_rows.size())
        return Qt::NoItemFlags;
    switch (m_rows.at(index.row()).kind) {
    case RowKind::home:
    case RowKind::folder:
    case RowKind::meeting:
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    case RowKind::newFolder:
        return Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    default:
        return Qt::ItemNeverHasChildren;
    }
}

QVariant SidebarSections::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.model() != this || index.row() >= m_rows.size())
        return {};
    const Row& row = m_rows.at(index.row());
    switch (role) {
    case KindRole:
        return QVariant::fromValue(row.kind);
    case RecordRole:
        return QVariant::fromValue(row.record);
    case CountRole:
        return row.kind == RowKind::folder ? int(static_cast<Folder*>(row.record)->meetings().size()) : 0;
    case Qt::DisplayRole:
        return displayText(row);
    default:
        return {};
    }
}

QMap<int, QVariant> SidebarSections::itemData(const QModelIndex& index) const
{
    // The proxy's own rows, not the source's: most of them have none.
    return QAbstractItemModel::itemData(index);
}

QString SidebarSections::displayText(const Row& row)
{
    switch (row.kind) {
    case RowKind::home:
        return QStringLiteral("Home");
    case RowKind::spacesHeading:
        return QStringLiteral("Spaces");
    case RowKind::folder: {
        const QString name = static_cast<Folder*>(row.record)->name();
        return name.isEmpty() ? QStringLiteral("Untitled") : name;
    }
    case RowKind::newFolder:
        return QStringLiteral("New Folder");
    case RowKind::meeting: {
        const QString title = static_cast<Meeting*>(row.record)->title();
        return title.isEmpty() ? QStringLiteral("Untitled") : title;
    }
    case RowKind::dateHeading:
    case RowKind::noResults:
        return row.text;
    }
    return {};
}

QModelIndex SidebarSections::mapToSource(const QModelIndex& proxyIndex) const
{
    if (!proxyIndex.isValid() || proxyIndex.model() != this || proxyIndex.row() >= m_rows.size())
        return {};
    const int sourceRow = m_rows.at(proxyIndex.row()).sourceRow;
    return sourceRow < 0 ? QModelIndex() : m_meetings.index(sourceRow, 0);
}

QModelIndex SidebarSections::mapFromSource(const QModelIndex& sourceIndex) const
{
    if (!sourceIndex.isValid() || sourceIndex.model() != &m_meetings || sourceIndex.row() >= m_rowOfSource.size())
        return {};
    return index(m_rowOfSource.at(sourceIndex.row()), 0);
}

QString SidebarSections::sectionOf(Meeting* meeting) const
{
    const QList<MeetingDateGroup> groups = groupMeetingsByDate({ meeting }, m_clock.now());
    return groups.isEmpty() ? QString() : groups.first().title;
}

void SidebarSections::rebuild()
{
    if (m_holding)
        return;
    QList<Row> rows;
    QHash<const QObject*, int> rowOf;
    rows.append({ RowKind::home, nullptr, {} });
    rows.append({ RowKind::spacesHeading, nullptr, {} });
    for (int i = 0; i < m_folders.rowCount(); ++i) {
        Folder* folder = m_folders.folderAt(i);
        rowOf.insert(folder, int(rows.size()));
        rows.append({ RowKind::folder, folder, {} });
    }
    rows.append({ RowKind::newFolder, nullptr, {} });

    const int count = m_meetings.rowCount();
    QList<Meeting*> shown;
    shown.reserve(count);
    for (int i = 0; i < count; ++i)
        shown.append(m_meetings.meetingAt(i));
    // While the index is not ready a search shows no meeting, and no verdict either.
    if (shown.isEmpty() && m_meetings.isSearching() && !m_meetings.isPending()) {
        rows.append({ RowKind::noResults, nullptr,
            QStringLiteral("No meetings match “") + m_meetings.searchText() + QStringLiteral("”") });
    }
    QList<int> rowOfSource(count, -1);
    for (const MeetingDateGroup& group : groupMeetingsByDate(shown, m_clock.now())) {
        rows.append({ RowKind::dateHeading, nullptr, group.title });
        // A section keeps the list's order, so each of its meetings is found by walking on from
        // the last one: a few passes over the list rather than a table of every meeting's row.
        qsizetype next = 0;
        for (Meeting* meeting : group.meetings) {
            next = shown.indexOf(meeting, next);
            if (next < 0)
                next = shown.indexOf(meeting);
            const int sourceRow = int(next++);
            rowOfSource[sourceRow] = int(rows.size());
            rowOf.insert(meeting, int(rows.size()));
            rows.append({ RowKind::meeting, meeting, group.title, sourceRow });
        }
    }

    beginResetModel();
    m_rows = std::move(rows);
    m_rowOf = std::move(rowOf);
    m_rowOfSource = std::move(rowOfSource);
    endResetModel();
}

void SidebarSections::meetingsChanged(int first, int last)
{
    if (m_holding)
        return;
    for (int i = first; i <= last && i < m_rowOfSource.size(); ++i) {
        const int row = m_rowOfSource.at(i);
        if (row < 0)
            continue;
        if (m_rows.at(row).text != sectionOf(static_cast<Meeting*>(m_rows.at(row).record))) {
            rebuild();
            return;
        }
        emit dataChanged(index(row, 0), index(row, 0));
    }
}

void SidebarSections::foldersChanged(int first, int last)
{
    for (int i = first; i <= last; ++i) {
        const int row = rowOf(m_folders.folderAt(i));
        if (row >= 0)
            emit dataChanged(index(row, 0), index(row, 0));
    }
}
