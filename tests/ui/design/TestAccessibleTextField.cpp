#include "support/TestMain.h"
#include "ui/design/AccessibleTextField.h"

#include <QAccessible>
#include <QLineEdit>

namespace {

const QString kTexts[] = { QStringLiteral("ann@example.com"), QStringLiteral("'budget review"),
    QStringLiteral("Tiếng Việt. Hi there! "), QStringLiteral("a  b") };

// One text field's reading, every answer that a field can give in a line.
QStringList reading(QLineEdit& field)
{
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&field);
    QAccessibleTextInterface* text = face->textInterface();
    const QAccessible::State state = face->state();
    QStringList lines { QStringLiteral("role %1, editable %2, read-only %3, password %4, selectable %5")
                            .arg(face->role())
                            .arg(state.editable)
                            .arg(state.readOnly)
                            .arg(state.passwordEdit)
                            .arg(state.selectableText),
        face->text(QAccessible::Name), face->text(QAccessible::Value), face->text(QAccessible::Description),
        text->text(0, text->characterCount()) };
    int start = 0;
    int end = 0;
    text->selection(0, &start, &end);
    lines << QStringLiteral("%1 characters, caret %2, selected %3 to %4")
                 .arg(text->characterCount())
                 .arg(text->cursorPosition())
                 .arg(start)
                 .arg(end);
    const int size = text->characterCount();
    for (const auto boundary : { QAccessible::CharBoundary, QAccessible::WordBoundary,
             QAccessible::SentenceBoundary, QAccessible::LineBoundary }) {
        const bool wordLike = boundary == QAccessible::WordBoundary || boundary == QAccessible::SentenceBoundary;
        for (int offset = 0; offset <= size; ++offset) {
            const auto line = [&](const char* kind, const QString& answer) {
                lines << QStringLiteral("%1 %2 at %3: \u201C%4\u201D %5-%6")
                             .arg(QLatin1String(kind))
                             .arg(boundary)
                             .arg(offset)
                             .arg(answer)
                             .arg(start)
                             .arg(end);
            };
            line("before", text->textBeforeOffset(offset, boundary, &start, &end));
            line("after", text->textAfterOffset(offset, boundary, &start, &end));
            // Where Qt's own answer never returns: at either end of a word or a sentence.
            if (!wordLike || (offset > 0 && offset < size))
                line("at", text->textAtOffset(offset, boundary, &start, &end));
        }
    }
    return lines;
}

} // namespace

// A one-line text field reads as Qt's own does wherever Qt's answers, and answers where Qt's
// spun forever and froze the window.
class TestAccessibleTextField final : public QObject
{
    Q_OBJECT

    QLineEdit m_qts; // read through Qt's own interface, made before ours is installed

private slots:
    void initTestCase()
    {
        QVERIFY(QAccessible::queryAccessibleInterface(&m_qts)->textInterface());
        AccessibleTextField::install();
    }

    void readsAsQtsOwn_data()
    {
        QTest::addColumn<QLineEdit::EchoMode>("echo");
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("plain") << QLineEdit::Normal << false;
        QTest::newRow("password") << QLineEdit::Password << false;
        QTest::newRow("read-only") << QLineEdit::Normal << true;
    }

    void readsAsQtsOwn()
    {
        QFETCH(QLineEdit::EchoMode, echo);
        QFETCH(bool, readOnly);
        QLineEdit ours;
        for (const QString& text : kTexts) {
            for (QLineEdit* field : { &m_qts, &ours }) {
                field->setText(text);
                field->setEchoMode(echo);
                field->setReadOnly(readOnly);
                field->setAccessibleName(QStringLiteral("Email"));
                field->setPlaceholderText(QStringLiteral("name@example.com"));
                field->setSelection(2, 3);
            }
            QCOMPARE(reading(ours), reading(m_qts));
        }
    }

    void answersWhereQtsDidNot_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("offset");
        QTest::addColumn<QAccessible::TextBoundaryType>("boundary");
        QTest::addColumn<QString>("item");
        QTest::addColumn<int>("start");
        const auto word = QAccessible::WordBoundary;
        const auto sentence = QAccessible::SentenceBoundary;
        QTest::newRow("the last word") << "ann@example.com" << 15 << word << "com" << 12;
        QTest::newRow("the last sentence") << "Hi there. Bye!" << 14 << sentence << "Bye!" << 10;
        QTest::newRow("a quote first") << "'budget review" << 0 << word << "'" << 0;
        QTest::newRow("a space first") << " budget" << 0 << word << " " << 0;
        QTest::newRow("only a space") << " " << 1 << sentence << " " << 0;
    }

    void answersWhereQtsDidNot()
    {
        QFETCH(QString, text);
        QFETCH(int, offset);
        QFETCH(QAccessible::TextBoundaryType, boundary);
        QFETCH(QString, item);
        QFETCH(int, start);
        QLineEdit field(text);
        int found = -1;
        int end = -1;
        QCOMPARE(QAccessible::queryAccessibleInterface(&field)->textInterface()->textAtOffset(
                     offset, boundary, &found, &end),
            item);
        QCOMPARE(found, start);
        QCOMPARE(end, start + item.size());
    }
};

QUILLET_WIDGET_TEST_MAIN(TestAccessibleTextField)
#include "TestAccessibleTextField.moc"
