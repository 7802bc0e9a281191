#pragma once

#include <QAbstractListModel>
#include <QList>

class Folder;
class ModelContext;

// Every live folder of a context, oldest first by creation, following inserts, renames,
// filing and deletions as they happen.
class FolderListModel final : public QAbstractListModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FolderListModel)

public:
    enum Role {
        FolderRole = Qt::UserRole + 1, // Folder*
        IdRole,
        NameRole,
        IconRole,
        DetailRole,
        MeetingCountRole,
    };
    Q_ENUM(Role)

    explicit FolderListModel(ModelContext& context, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    Folder* folderAt(int row) const;
    int rowOf(const Folder* folder) const;

private:
    void insertFolder(Folder* folder);
    void removeFolder(Folder* folder);
    void updateFolder(Folder* folder);
    void watch(Folder* folder);
    qsizetype positionFor(const Folder* folder) const;

    QList<Folder*> m_rows;
};
