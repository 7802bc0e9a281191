#include "ui/onboarding/StepLayout.h"

#include "ui/design/AccessibleRole.h"
#include "ui/design/Quillet.h"
#include "ui/design/SymbolView.h"
#include "ui/design/ToneLabel.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>
#include <cmath>

namespace {

constexpr qreal kLineSpacing = 3;

// Centred lines with extra room between them, which a QLabel cannot give, drawn in the
// secondary tone of whatever palette is in force when painted. The text is shown as written.
class StepMessage final : public QWidget
{
public:
    explicit StepMessage(const QString& text)
    {
        // Painted lines, read as the text they are.
        AccessibleRole::set(*this, QAccessible::StaticText);
        setAccessibleName(text);
        m_document.setDocumentMargin(0);
        m_document.setDefaultFont(Quillet::font(12.5));
        QTextOption option(Qt::AlignHCenter);
        option.setWrapMode(QTextOption::WordWrap);
        m_document.setDefaultTextOption(option);
        // One paragraph with line separators, so the spacing applies between every line.
        QString lines = text;
        lines.replace(QLatin1Char('\n'), QChar(QChar::LineSeparator));
        m_document.setPlainText(lines);
        QTextCursor cursor(&m_document);
        cursor.select(QTextCursor::Document);
        QTextBlockFormat format;
        format.setAlignment(Qt::AlignHCenter);
        format.setLineHeight(kLineSpacing, QTextBlockFormat::LineDistanceHeight);
        cursor.mergeBlockFormat(format);

        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }

    bool hasHeightForWidth() const override { return true; }

    int heightForWidth(int width) const override
    {
        m_document.setTextWidth(width);
        return int(std::ceil(m_document.size().height()));
    }

    QSize sizeHint() const override
    {
        m_document.setTextWidth(-1);
        const int width = int(std::ceil(m_document.idealWidth()));
        return { width, heightForWidth(width) };
    }

    QSize minimumSizeHint() const override { return { 0, heightForWidth(width()) }; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        m_document.setTextWidth(width());
        QAbstractTextDocumentLayout::PaintContext context;
        context.palette.setColor(QPalette::Text, Quillet::secondary(palette()));
        m_document.documentLayout()->draw(&painter, context);
    }

private:
    // Laid out again for each width asked about.
    mutable QTextDocument m_document;
};

} // namespace

StepLayout::StepLayout(
    const QString& icon, const QString& title, const QString& message, QWidget* footer, QWidget* parent)
    : QWidget(parent)
    , m_title(title)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(36, 0, 36, 0);
    layout->setSpacing(18);

    layout->addWidget(new SymbolView(icon, 34, Quillet::Tone::accent), 0, Qt::AlignHCenter);

    auto* heading
        = new ToneLabel(title, Quillet::font(23, QFont::Medium, Quillet::Design::serif), Quillet::Tone::primary);
    heading->setAlignment(Qt::AlignHCenter);
    heading->setWordWrap(true);
    layout->addWidget(heading);

    layout->addWidget(new StepMessage(message));

    // The footer sits a little further down than the spacing alone would put it. It takes the
    // whole width and centres its own content: a box layout asks an item it aligns for its
    // height at the full width, which is too little for text that wraps in a narrower item.
    auto* footerFrame = new QWidget;
    auto* footerLayout = new QVBoxLayout(footerFrame);
    footerLayout->setContentsMargins(0, 4, 0, 0);
    footerLayout->addWidget(footer);
    layout->addWidget(footerFrame);
}
