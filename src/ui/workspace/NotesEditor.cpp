#include "ui/workspace/NotesEditor.h"

#include "ui/design/Quillet.h"
#include "ui/design/ScrollIndicator.h"

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <cmath>

namespace {
constexpr qreal kLineSpacing = 4.5;
} // namespace

NotesEditor::NotesEditor(const QString& text, const QString& placeholder, OnChange onChange, QWidget* parent)
    : FocusUnderlined<QTextEdit>(parent)
    , m_onChange(std::move(onChange))
{
    setAcceptRichText(false);
    setFrameShape(QFrame::NoFrame);
    setFont(Quillet::body());
    setPlaceholderText(placeholder);
    setAccessibleName(QStringLiteral("Notes"));
    setTabChangesFocus(true);
    setVerticalScrollBar(new ScrollIndicator(Qt::Vertical));
    viewport()->setAutoFillBackground(false);
    document()->setDocumentMargin(0);
    applyColors();
    load(text);
    connect(this, &QTextEdit::textChanged, this, [this] {
        if (!m_loading && m_onChange)
            m_onChange(toPlainText());
    });
    connect(
        document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this, &NotesEditor::fitToText);
}

void NotesEditor::setText(const QString& text)
{
    if (text != toPlainText())
        load(text);
}

void NotesEditor::load(const QString& text)
{
    m_loading = true;
    setPlainText(text);
    // New blocks take the format of the block they are split from, so setting it once holds.
    QTextCursor all(document());
    all.select(QTextCursor::Document);
    QTextBlockFormat spacing;
    spacing.setLineHeight(kLineSpacing, QTextBlockFormat::LineDistanceHeight);
    all.mergeBlockFormat(spacing);
    m_loading = false;
}

void NotesEditor::setGrowsWithText(int floor)
{
    m_floor = floor;
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    fitToText();
}

void NotesEditor::fitToText()
{
    if (m_floor < 0)
        return;
    const int wanted = std::max(m_floor, int(std::ceil(document()->size().height())) + 4);
    if (wanted != height() || minimumHeight() != wanted)
        setFixedHeight(wanted);
}

QSize NotesEditor::sizeHint() const
{
    QSize hint = QTextEdit::sizeHint();
    if (m_floor >= 0)
        hint.setHeight(std::max(m_floor, int(std::ceil(document()->size().height())) + 4));
    return hint;
}

QSize NotesEditor::minimumSizeHint() const
{
    return { 80, std::max(minimumHeight(), QFontMetrics(font()).height() + 4) };
}

void NotesEditor::changeEvent(QEvent* event)
{
    QTextEdit::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}

void NotesEditor::applyColors()
{
    // Setting the palette sends a palette change of its own; only act when something differs.
    QPalette colors = palette();
    const QColor placeholder = Quillet::tertiary(colors);
    if (colors.color(QPalette::PlaceholderText) == placeholder && colors.color(QPalette::Base).alpha() == 0)
        return;
    colors.setColor(QPalette::PlaceholderText, placeholder);
    colors.setColor(QPalette::Base, Qt::transparent);
    setPalette(colors);
}
