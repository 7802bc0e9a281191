#pragma once

#include "storage/Folder.h"

#include <QPointer>
#include <QWidget>

class EditorialLabel;
class SymbolView;
class ToneLabel;

// The top of a folder's page: its symbol and name ("Untitled" when empty), its description
// when it has one, and how many meetings are filed in it. Follows the folder live.
class FolderHeader final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FolderHeader)

public:
    explicit FolderHeader(Folder* folder, QWidget* parent = nullptr);

    // "0 meetings", "1 meeting", "12 meetings".
    static QString countText(qsizetype count);

    QString nameText() const;
    // Empty and hidden when the folder has no description.
    QString descriptionText() const;
    bool isDescriptionShown() const;
    QString shownCount() const;
    QString symbol() const;

private:
    void refresh();

    QPointer<Folder> m_folder;
    SymbolView* m_symbol;
    ToneLabel* m_name;
    ToneLabel* m_description;
    EditorialLabel* m_count;
};
