#include "ui/home/FolderHeader.h"

#include "storage/Folder.h"
#include "ui/design/EditorialLabel.h"
#include "ui/design/Quillet.h"
#include "ui/design/SymbolView.h"
#include "ui/design/Symbols.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

FolderHeader::FolderHeader(Folder* folder, QWidget* parent)
    : QWidget(parent)
    , m_folder(folder)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(10);
    m_symbol = new SymbolView(QStringLiteral("folder"), 22, Quillet::Tone::accent, this);
    titleRow->addWidget(m_symbol, 0, Qt::AlignVCenter);
    m_name
        = new ToneLabel({}, Quillet::font(28, QFont::DemiBold, Quillet::Design::serif), Quillet::Tone::primary, this);
    m_name->setWordWrap(true);
    titleRow->addWidget(m_name, 1, Qt::AlignVCenter);
    layout->addLayout(titleRow);

    m_description = new ToneLabel({}, Quillet::body(), Quillet::Tone::secondary, this);
    m_description->setWordWrap(true);
    layout->addWidget(m_description);

    m_count = new EditorialLabel({}, Quillet::Tone::secondary, this);
    layout->addWidget(m_count);

    if (folder) {
        for (const auto signal :
            { &Folder::nameChanged, &Folder::iconChanged, &Folder::detailChanged, &Folder::meetingsChanged })
            connect(folder, signal, this, &FolderHeader::refresh);
    }
    refresh();
}

QString FolderHeader::countText(qsizetype count)
{
    return count == 1 ? tr("1 meeting") : tr("%1 meetings").arg(count);
}

void FolderHeader::refresh()
{
    if (!m_folder)
        return;
    m_symbol->setName(Symbols::forFolder(m_folder->icon()));
    m_name->setText(m_folder->name().isEmpty() ? tr("Untitled") : m_folder->name());
    m_description->setText(m_folder->detail());
    m_description->setVisible(!m_folder->detail().isEmpty());
    m_count->setText(countText(m_folder->meetings().size()));
}

QString FolderHeader::nameText() const
{
    return m_name->text();
}

QString FolderHeader::descriptionText() const
{
    return m_description->isHidden() ? QString() : m_description->text();
}

bool FolderHeader::isDescriptionShown() const
{
    return !m_description->isHidden();
}

QString FolderHeader::shownCount() const
{
    return m_count->text();
}

QString FolderHeader::symbol() const
{
    return m_symbol->name();
}
