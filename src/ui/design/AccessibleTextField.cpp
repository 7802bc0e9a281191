#include "ui/design/AccessibleTextField.h"

#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QLineEdit>
#include <QTextBoundaryFinder>
#include <QValidator>
#include <algorithm>

namespace {

// Qt's field, but for the word and sentence answers (textAt).
class TextField final : public QAccessibleWidget,
                        public QAccessibleTextInterface,
                        public QAccessibleEditableTextInterface
{
public:
    explicit TextField(QLineEdit* field)
        : QAccessibleWidget(field, QAccessible::EditableText)
    {
        addControllingSignal(QStringLiteral("textChanged(const QString&)"));
        addControllingSignal(QStringLiteral("returnPressed()"));
    }

    QLineEdit* field() const { return static_cast<QLineEdit*>(widget()); }
    bool shown() const { return field()->echoMode() == QLineEdit::Normal; }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        if (type == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text kind) const override
    {
        QString said;
        if (kind == QAccessible::Value) {
            if (shown())
                said = field()->text();
            else if (field()->echoMode() != QLineEdit::NoEcho)
                said = QString(field()->text().size(), QLatin1Char('*'));
        }
        if (said.isEmpty())
            said = QAccessibleWidget::text(kind);
        if (said.isEmpty() && kind == QAccessible::Description)
            said = field()->placeholderText();
        return said;
    }

    void setText(QAccessible::Text kind, const QString& text) override
    {
        if (kind != QAccessible::Value) {
            QAccessibleWidget::setText(kind, text);
            return;
        }
        QString taken = text;
        int position = 0;
        if (const QValidator* validator = field()->validator();
            validator && validator->validate(taken, position) != QValidator::Acceptable)
            return;
        field()->setText(taken);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.editable = true;
        state.readOnly = field()->isReadOnly();
        state.passwordEdit = !shown();
        state.selectableText = true;
        return state;
    }

    // The text.
    QString text(int start, int end) const override
    {
        return start > end || !shown() ? QString() : field()->text().mid(start, end - start);
    }
    int characterCount() const override { return int(field()->text().size()); }
    int cursorPosition() const override { return field()->cursorPosition(); }
    void setCursorPosition(int position) override { field()->setCursorPosition(position); }

    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int* start, int* end) const override
    {
        if (!shown()) {
            *start = *end = -1;
            return {};
        }
        return AccessibleTextField::textAt(*this, offset == -2 ? cursorPosition() : offset, boundary, start, end);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int* start, int* end) const override
    {
        if (!shown()) {
            *start = *end = -1;
            return {};
        }
        return QAccessibleTextInterface::textBeforeOffset(
            offset == -2 ? cursorPosition() : offset, boundary, start, end);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int* start, int* end) const override
    {
        if (!shown()) {
            *start = *end = -1;
            return {};
        }
        return QAccessibleTextInterface::textAfterOffset(
            offset == -2 ? cursorPosition() : offset, boundary, start, end);
    }

    // The selection: a field has one at most.
    int selectionCount() const override { return field()->hasSelectedText() ? 1 : 0; }
    void selection(int index, int* start, int* end) const override
    {
        *start = *end = 0;
        if (index != 0 || !field()->hasSelectedText())
            return;
        *start = field()->selectionStart();
        *end = *start + int(field()->selectedText().size());
    }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int index) override
    {
        if (index == 0)
            field()->deselect();
    }
    void setSelection(int index, int start, int end) override
    {
        if (index == 0)
            field()->setSelection(start, end - start);
    }

    // Where the text is: from the caret, which the field tells, along the characters between.
    QRect characterRect(int offset) const override
    {
        const QString character = text(offset, offset + 1);
        if (character.isEmpty())
            return {};
        const QFontMetrics metrics(field()->font());
        const QString& all = field()->text();
        const int caret = field()->cursorPosition();
        const int caretX = field()->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
        const int x = offset >= caret ? caretX + metrics.horizontalAdvance(all.mid(caret, offset - caret))
                                      : caretX - metrics.horizontalAdvance(all.mid(offset, caret - offset));
        const int width = metrics.horizontalAdvance(character);
        if (width == 0)
            return {};
        const int top = field()->textMargins().top() + (field()->height() - metrics.height()) / 2;
        const QRect place(x, top, width, metrics.height());
        return place.translated(field()->mapToGlobal(QPoint(0, 0)));
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        return field()->cursorPositionAt(field()->mapFromGlobal(point));
    }
    void scrollToSubstring(int start, int end) override
    {
        field()->setCursorPosition(end);
        field()->setCursorPosition(start);
    }
    QString attributes(int offset, int* start, int* end) const override
    {
        *start = *end = offset;
        return {};
    }

    // Editing, as typing would.
    void deleteText(int start, int end) override { replaceText(start, end, QString()); }
    void insertText(int offset, const QString& text) override { replaceText(offset, offset, text); }
    void replaceText(int start, int end, const QString& text) override
    {
        QString edited = field()->text();
        edited.replace(start, end - start, text);
        setText(QAccessible::Value, edited);
    }
};

QAccessibleInterface* textFieldFactory(const QString&, QObject* object)
{
    auto* field = qobject_cast<QLineEdit*>(object);
    return field ? new TextField(field) : nullptr;
}

} // namespace

QString AccessibleTextField::textAt(
    const QAccessibleTextInterface& face, int offset, QAccessible::TextBoundaryType boundary, int* start, int* end)
{
    QTextBoundaryFinder::BoundaryType kind;
    switch (boundary) {
    case QAccessible::WordBoundary:
        kind = QTextBoundaryFinder::Word;
        break;
    case QAccessible::SentenceBoundary:
        kind = QTextBoundaryFinder::Sentence;
        break;
    default:
        // Qt's answers of the other kinds return.
        return face.QAccessibleTextInterface::textAtOffset(offset, boundary, start, end);
    }
    const QString text = face.text(0, face.characterCount());
    *start = *end = -1;
    const int size = int(text.size());
    if (offset == -1)
        offset = size;
    if (text.isEmpty() || offset < 0 || offset > size)
        return {};
    // As Qt's: from the nearest boundary where an item starts or ends to the next one. Qt's
    // went on looking past either end of the text.
    QTextBoundaryFinder finder(kind, text);
    finder.setPosition(offset);
    while (finder.position() > 0
        && !(finder.boundaryReasons() & (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem)))
        finder.toPreviousBoundary();
    // At the very end, the item that ends there, as a multi-line field answers.
    if (finder.position() == size)
        finder.toPreviousBoundary();
    *start = int(std::max<qsizetype>(finder.position(), 0));
    qsizetype next = *start;
    finder.setPosition(next);
    while (next >= 0 && next < size) {
        next = finder.toNextBoundary();
        if (next > 0 && next < size
            && (finder.boundaryReasons() & (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem)))
            break;
    }
    *end = next < 0 ? size : int(next);
    return text.mid(*start, *end - *start);
}

void AccessibleTextField::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(&textFieldFactory);
        return true;
    }();
    Q_UNUSED(installed);
}
