#pragma once

#include "storage/Meeting.h"

#include <QDialog>
#include <QPointer>

class ModelContext;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

// The sheet that creates a folder: a name, one of twelve symbols and a description. Opened from
// a meeting's "New Folder…" it also files that meeting into the new folder. Window-modal,
// shown with open(); each opening starts empty with the symbol "folder".
class NewFolderSheet final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NewFolderSheet)

public:
    // The symbols offered, in the order of the picker's menu.
    static const QStringList& iconChoices();
    // What the picker's menu calls a symbol ("People" for "person.2").
    static QString iconName(const QString& symbol);

    // assignMeeting: filed into the new folder when it is still in the store; may be null.
    NewFolderSheet(ModelContext& context, Meeting* assignMeeting, QWidget* parent = nullptr);

    Meeting* assignMeeting() const { return m_assignMeeting; }

    QString icon() const { return m_icon; }
    void setIcon(const QString& icon);

    QLineEdit* nameField() const { return m_name; }
    QPlainTextEdit* descriptionField() const { return m_detail; }
    QToolButton* iconPicker() const { return m_picker; }
    QPushButton* createButton() const { return m_create; }
    QPushButton* cancelButton() const { return m_cancel; }

public slots:
    void open() override;

private:
    void create();
    void updateCreate();

    QPointer<Meeting> m_assignMeeting;
    ModelContext& m_context;
    QString m_icon;
    QToolButton* m_picker;
    QLineEdit* m_name;
    QPlainTextEdit* m_detail;
    QPushButton* m_cancel;
    QPushButton* m_create;
};
