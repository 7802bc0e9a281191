#pragma once

#include <QAbstractProxyModel>
#include <QHash>
#include <QList>

class Clock;
class FolderListModel;
class Meeting;
class MeetingSearchFilter;

// The sidebar's rows in the order shown: "Home", the "Spaces" heading, every folder, "New
// Folder", then the meetings the search keeps under their date headings, or the no-results
// row when a search keeps none. Rows that come, go or move lay the list out anew; a row that
// only changes is reported as changed, unless its meeting now belongs in another section. The
// folder rows follow the folder list whatever the search. A meeting row maps to its row of the
// search filter. Must not outlive the filter, the folder list or the clock.
class SidebarSections final : public QAbstractProxyModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SidebarSections)

public:
    enum class RowKind { home, spacesHeading, folder, newFolder, dateHeading, meeting, noResults };
    Q_ENUM(RowKind)
    enum Role {
        KindRole = Qt::UserRole + 1, // RowKind
        RecordRole, // QObject*: the Folder or Meeting of the row, else null
        CountRole, // a folder's number of meetings
        LastRole = CountRole,
    };

    SidebarSections(
        MeetingSearchFilter& meetings, FolderListModel& folders, const Clock& clock, QObject* parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex&) const override { return {}; }
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 1; }
    bool hasChildren(const QModelIndex& parent = {}) const override { return rowCount(parent) > 0; }
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QMap<int, QVariant> itemData(const QModelIndex& index) const override;
    QVariant headerData(int, Qt::Orientation, int) const override { return {}; }
    QModelIndex mapToSource(const QModelIndex& proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex& sourceIndex) const override;

    // The row of a folder or meeting on show, or -1.
    int rowOf(const QObject* record) const { return m_rowOf.value(record, -1); }
    // What a row is, without a QVariant: a list lays out every row, and asks this of each.
    RowKind kindAt(int row) const { return m_rows.at(row).kind; }

private:
    struct Row
    {
        RowKind kind;
        QObject* record = nullptr;
        QString text; // a heading's title, the no-results text, a meeting's date section
        int sourceRow = -1; // a meeting's row in the search filter
    };

    void rebuild();
    void meetingsChanged(int first, int last);
    void foldersChanged(int first, int last);
    QString sectionOf(Meeting* meeting) const;
    static QString displayText(const Row& row);

    MeetingSearchFilter& m_meetings;
    FolderListModel& m_folders;
    const Clock& m_clock;
    QList<Row> m_rows;
    QHash<const QObject*, int> m_rowOf;
    QList<int> m_rowOfSource;
    bool m_holding = false;
};
