#include "ui/NewFolderSheet.h"

#include "storage/Meeting.h"

#include <QDialogButtonBox>
#include <QVBoxLayout>

NewFolderSheet::NewFolderSheet(ModelContext&, Meeting* assignMeeting, QWidget* parent)
    : QDialog(parent)
    , m_assignMeeting(assignMeeting)
{
    setWindowTitle(QStringLiteral("New Folder"));
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(buttons);
    resize(360, 160);
}
