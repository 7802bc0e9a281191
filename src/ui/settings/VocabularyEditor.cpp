#include "ui/settings/VocabularyEditor.h"

#include "platform/Settings.h"
#include "system/CustomDictionary.h"
#include "ui/design/EnterKey.h"
#include "ui/design/FlowLayout.h"
#include "ui/design/Quillet.h"
#include "ui/design/SymbolButton.h"
#include "ui/design/TextLines.h"
#include "ui/design/ToneLabel.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr qreal kChipSpacing = 6;

// One stored word on a capsule, with the cross that removes the word at its position.
class Chip final : public QWidget
{
public:
    Chip(const QString& word, QWidget* parent)
        : QWidget(parent)
    {
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(8, 4, 8, 4);
        row->setSpacing(4);
        row->addWidget(new ToneLabel(word, Quillet::caption(), Quillet::Tone::primary, this), 0, Qt::AlignVCenter);
        SymbolButton::Look cross;
        cross.symbol = QStringLiteral("xmark");
        cross.symbolSize = 8;
        m_remove = new SymbolButton(cross, this);
        m_remove->setTone(Quillet::Tone::primary);
        row->addWidget(m_remove, 0, Qt::AlignVCenter);
    }

    SymbolButton* removeButton() const { return m_remove; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath capsule;
        const QRectF box(rect());
        capsule.addRoundedRect(box, box.height() / 2, box.height() / 2);
        painter.fillPath(capsule, Quillet::withOpacity(Quillet::secondary(palette()), 0.1));
    }

private:
    SymbolButton* m_remove;
};

} // namespace

VocabularyEditor::VocabularyEditor(Settings& settings, QWidget* parent)
    : QWidget(parent)
    , m_settings(settings)
    , m_field(new QLineEdit(this))
    , m_add(new QPushButton(QStringLiteral("Add"), this))
    , m_chips(new QWidget(this))
    , m_flow(new FlowLayout(kChipSpacing, m_chips))
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);

    auto* explanation = new ToneLabel(QStringLiteral("Words Quillet should always spell your way."), Quillet::caption(),
        Quillet::Tone::secondary, this);
    explanation->setWordWrap(true);
    column->addWidget(explanation);

    m_field->setPlaceholderText(QStringLiteral("Add a word…"));
    m_field->setAccessibleName(QStringLiteral("Add a word"));
    auto* addRow = new QHBoxLayout;
    addRow->addWidget(m_field, 1, Qt::AlignVCenter);
    addRow->addWidget(m_add, 0, Qt::AlignVCenter);
    column->addLayout(addRow);
    column->addWidget(m_chips);

    connect(m_field, &QLineEdit::textChanged, this, &VocabularyEditor::updateAddButton);
    connect(m_field, &QLineEdit::returnPressed, this, &VocabularyEditor::addWord);
    connect(m_add, &QPushButton::clicked, this, &VocabularyEditor::addWord);
    EnterKey::pressesButton(*m_add);
    connect(&m_settings, &Settings::changed, this, [this](const QString& key) {
        if (SettingsKeys::customDictionary.is(key))
            redrawChips();
    });
    updateAddButton();
    redrawChips();
}

void VocabularyEditor::addWord()
{
    const QString word = m_field->text().trimmed();
    if (word.isEmpty())
        return;
    CustomDictionary::add(m_settings, word);
    m_field->clear();
}

void VocabularyEditor::updateAddButton()
{
    m_add->setEnabled(!TextLines::isBlank(m_field->text()));
}

void VocabularyEditor::redrawChips()
{
    // A chip's own cross may be what changed the list: the old chips go once its click is over.
    while (QLayoutItem* item = m_flow->takeAt(0)) {
        if (QWidget* chip = item->widget()) {
            chip->hide();
            chip->deleteLater();
        }
        delete item;
    }
    const QStringList words = CustomDictionary::words(m_settings);
    for (int index = 0; index < words.size(); ++index) {
        auto* chip = new Chip(words.at(index), m_chips);
        connect(chip->removeButton(), &QAbstractButton::clicked, this,
            [this, index] { CustomDictionary::removeAt(m_settings, index); });
        m_flow->addWidget(chip);
        chip->show();
    }
    m_chips->setVisible(!words.isEmpty());
}
