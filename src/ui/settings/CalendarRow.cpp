#include "ui/settings/CalendarRow.h"

#include "calendar/CalendarService.h"
#include "ui/design/AccessibleRole.h"
#include "ui/design/Quillet.h"
#include "ui/design/SymbolButton.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace {

constexpr int kDot = 8;
constexpr int kDotToTitle = 6;
constexpr int kMinimumGap = 8;
constexpr qreal kRecordSymbolSize = 13;
const QColor kGray(0x8e, 0x8e, 0x93);

// A title is shown on one line whatever it holds.
QString oneLine(QString text)
{
    for (QChar& c : text)
        if (c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = u' ';
    return text;
}

// The platform's check box, with a colour dot between the box and the title, and the title cut
// short with an ellipsis when the row is narrow. A click anywhere on it toggles the box.
class DotCheckBox final : public QCheckBox
{
public:
    // A title is data: its "&" is a character, never a shortcut letter ("Birthdays &
    // Anniversaries" would answer Alt+A and be read without it).
    DotCheckBox(const QString& title, const QColor& color, QWidget* parent)
        : QCheckBox(QString(oneLine(title)).replace(QLatin1Char('&'), QStringLiteral("&&")), parent)
        , m_title(oneLine(title))
        , m_color(color)
    {
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }

    QString title() const { return m_title; }
    QSize sizeHint() const override { return sizeFor(QFontMetrics(font()).horizontalAdvance(m_title)); }
    QSize minimumSizeHint() const override { return sizeFor(QFontMetrics(font()).horizontalAdvance(QChar(0x2026))); }

protected:
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

    void paintEvent(QPaintEvent*) override
    {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        const QRect indicator = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, this);
        QStyleOptionButton box = option;
        box.rect = indicator;
        painter.drawPrimitive(QStyle::PE_IndicatorCheckBox, box);

        int x = indicator.right() + 1 + labelSpacing();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_color);
        painter.drawEllipse(QRectF(x, (height() - kDot) / 2.0, kDot, kDot));
        x += kDot + kDotToTitle;

        const QRect textBox(x, 0, width() - x, height());
        const QString shown = fontMetrics().elidedText(m_title, Qt::ElideRight, textBox.width());
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
        painter.drawText(textBox, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, shown);
        if (hasFocus()) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect
                = fontMetrics().boundingRect(textBox, Qt::AlignVCenter | Qt::AlignLeft, shown).adjusted(-1, 0, 1, 0);
            painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
        }
    }

private:
    int labelSpacing() const { return style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, this); }

    QSize sizeFor(int textWidth) const
    {
        const int indicatorWidth = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this);
        const int indicatorHeight = style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, this);
        const int width = indicatorWidth + labelSpacing() + kDot + kDotToTitle + textWidth + 2;
        return { width, std::max(indicatorHeight, fontMetrics().height()) + 2 };
    }

    QString m_title;
    QColor m_color;
};

SymbolButton::Look recordLook()
{
    SymbolButton::Look look;
    look.symbol = QStringLiteral("record.circle");
    look.symbolSize = kRecordSymbolSize;
    return look;
}

} // namespace

CalendarRow::CalendarRow(
    const QString& title, const QColor& color, const QString& recordId, CalendarService& calendar, QWidget* parent)
    : QWidget(parent)
    , m_checkBox(new DotCheckBox(title, color, this))
    , m_record(new SymbolButton(recordLook(), this))
    , m_recordId(recordId)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(m_checkBox, 0, Qt::AlignVCenter);
    row->addSpacing(kMinimumGap);
    row->addStretch(1);
    row->addWidget(m_record, 0, Qt::AlignVCenter);
    m_record->setToolTip(kRecordTip);
    // Read out of its row, "this calendar" would say which of them to nobody.
    m_record->setAccessibleName(QStringLiteral("Always record %1").arg(oneLine(title)));
    // A symbol that is on or off: a check box to a screen reader.
    AccessibleRole::set(*m_record, QAccessible::CheckBox);
    setAlwaysRecord(false);

    // clicked() is the user's alone; setChecked() from the stored state reports nothing.
    connect(m_checkBox, &QCheckBox::clicked, this, &CalendarRow::toggledByUser);
    // The opposite of what the button shows, as the list was when it was last drawn.
    connect(m_record, &QAbstractButton::clicked, this,
        [this, &calendar] { calendar.setAlwaysRecord(!m_alwaysRecord, m_recordId); });
}

void CalendarRow::setChecked(bool checked)
{
    m_checkBox->setChecked(checked);
}

void CalendarRow::setAlwaysRecord(bool on)
{
    m_alwaysRecord = on;
    m_record->setSymbol(on ? QStringLiteral("record.circle.fill") : QStringLiteral("record.circle"));
    m_record->setColor(on ? Quillet::accent() : Quillet::withOpacity(kGray, 0.5));
    if (m_record->property("selected").toBool() != on) {
        m_record->setProperty("selected", on);
        AccessibleRole::checkedChanged(*m_record);
    }
}
