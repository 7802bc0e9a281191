#include "support/TestMain.h"
#include "ui/design/AccessibleTextField.h"

#include <QAccessible>
#include <QLineEdit>

namespace {

// Everything a screen reader can ask a one-line field, one answer a line.
QStringList reading(QLineEdit& field)
{
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&field);
    QAccessibleTextInterface* text = face->textInterface();
    const QAccessible::State state = face->state();
    const int size = text->characterCount();
    int start = 0;
    int end = 0;
    text->selection(0, &start, &end);
    QStringList lines { QString::number(face->role()), face->text(QAccessible::Name), face->text(QAccessible::Value),
        face->text(QAccessible::Description), text->text(0, size),
        QStringLiteral("%1%2%3%4 %5 %6 %7-%8")
            .arg(state.editable)
            .arg(state.readOnly)
            .arg(state.passwordEdit)
            .arg(state.selectableText)
            .arg(size)
            .arg(text->cursorPosition())
            .arg(start)
            .arg(end) };
    const auto answer = [&](const QString& said) { lines << QStringLiteral("%1 %2-%3").arg(said).arg(start).arg(end); };
    for (const auto boundary : { QAccessible::CharBoundary, QAccessible::WordBoundary, QAccessible::SentenceBoundary,
             QAccessible::LineBoundary }) {
        for (int offset = 0; offset <= size; ++offset) {
            answer(text->textBeforeOffset(offset, boundary, &start, &end));
            answer(text->textAfterOffset(offset, boundary, &start, &end));
            // Qt's own never answers for a word or a sentence at either end.
            if (boundary == QAccessible::CharBoundary || boundary == QAccessible::LineBoundary
                || (offset > 0 && offset < size))
                answer(text->textAtOffset(offset, boundary, &start, &end));
        }
    }
    return lines;
}

} // namespace

// A one-line text field reads as Qt's own does wherever Qt's answers, and answers where Qt's
// looked forever and froze the window.
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

    void readsAsQtsOwn()
    {
        QLineEdit ours;
        for (const auto echo : { QLineEdit::Normal, QLineEdit::Password })
            for (const bool readOnly : { false, true })
                for (const char* text : { "ann@example.com", "'budget review", "Tiếng Việt. Hi there! ", "a  b" }) {
                    for (QLineEdit* field : { &m_qts, &ours }) {
                        field->setText(QString::fromUtf8(text));
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
        QTest::newRow("the last word") << "ann@example.com" << 15 << QAccessible::WordBoundary << "com" << 12;
        QTest::newRow("the last sentence") << "Hi there. Bye!" << 14 << QAccessible::SentenceBoundary << "Bye!" << 10;
        QTest::newRow("a quote first") << "'budget review" << 0 << QAccessible::WordBoundary << "'" << 0;
        QTest::newRow("only a space") << " " << 1 << QAccessible::SentenceBoundary << " " << 0;
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
        QAccessibleTextInterface* face = QAccessible::queryAccessibleInterface(&field)->textInterface();
        QCOMPARE(face->textAtOffset(offset, boundary, &found, &end), item);
        QCOMPARE(found, start);
        QCOMPARE(end, start + item.size());
    }
};

QUILLET_WIDGET_TEST_MAIN(TestAccessibleTextField)
#include "TestAccessibleTextField.moc"
