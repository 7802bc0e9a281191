#include "ui/design/SettingsRow.h"

#include "ui/design/Quillet.h"
#include "ui/design/Symbols.h"
#include "ui/design/ToneLabel.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int kSpacing = 12;
constexpr int kSpacerMinimum = 12;
constexpr int kTile = 30;

// The symbol on its rounded, faintly tinted square.
class IconTile final : public QWidget
{
public:
    IconTile(QString symbol, QWidget* parent)
        : QWidget(parent)
        , m_symbol(std::move(symbol))
    {
        setFixedSize(kTile, kTile);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath tile;
        tile.addRoundedRect(QRectF(rect()), 8, 8);
        painter.fillPath(tile, Quillet::withOpacity(Quillet::primary(palette()), 0.05));
        const qreal side = Symbols::sideFor(13);
        const QRectF box(QPointF(kTile - side, kTile - side) / 2, QSizeF(side, side));
        Symbols::paint(painter, m_symbol, box, Quillet::secondary(palette()));
    }

private:
    QString m_symbol;
};

} // namespace

SettingsRow::SettingsRow(
    const QString& icon, const QString& title, const QString& subtitle, QWidget* trailing, QWidget* parent)
    : QWidget(parent)
    , m_title(new ToneLabel(title, Quillet::font(13, QFont::Medium), Quillet::Tone::primary, this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 11, 14, 11);
    row->setSpacing(kSpacing);
    row->addWidget(new IconTile(icon, this), 0, Qt::AlignVCenter);

    // The column takes the free width, so a subtitle wraps only when the row is narrow, and
    // sits in the middle of a row made taller by its trailing control.
    auto* column = new QWidget(this);
    auto* text = new QVBoxLayout(column);
    text->setContentsMargins(0, 0, 0, 0);
    text->setSpacing(2);
    text->addWidget(m_title);
    if (!subtitle.isEmpty()) {
        m_subtitle = new ToneLabel(subtitle, Quillet::font(11.5), Quillet::Tone::secondary, column);
        m_subtitle->setWordWrap(true);
        text->addWidget(m_subtitle);
    }
    row->addWidget(column, 1, Qt::AlignVCenter);

    // The layout puts its spacing only beside widgets, so the least gap between the text and
    // the trailing control is spacing, spacer, spacing.
    if (trailing) {
        row->addSpacing(kSpacerMinimum + kSpacing);
        row->addWidget(trailing, 0, Qt::AlignVCenter);
        // The title names the control it stands beside, as a field's label does.
        if (trailing->focusPolicy() != Qt::NoFocus)
            m_title->setBuddy(trailing);
    }
}

void SettingsRow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // Not every layout asks for the height at the given width (a window's own does not, nor
    // one holding a card of fixed width); as a minimum, every layout keeps to it.
    if (m_subtitle)
        setMinimumHeight(heightForWidth(width()));
}
