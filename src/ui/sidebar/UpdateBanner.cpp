#include "ui/sidebar/UpdateBanner.h"

#include "system/UpdateChecker.h"
#include "ui/design/EnterKey.h"
#include "ui/design/FocusRing.h"
#include "ui/design/Quillet.h"
#include "ui/design/SymbolView.h"
#include "ui/design/ToneLabel.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

namespace {
// Around the card: the account footer follows right below it.
constexpr QMargins kOuter { 8, 6, 8, 0 };
constexpr QMargins kPadding { 10, 8, 10, 8 };
constexpr qreal kRadius = 9;
} // namespace

UpdateBanner::UpdateBanner(UpdateChecker& updater, QWidget* parent)
    : QAbstractButton(parent)
    , m_updater(updater)
    , m_detail(new ToneLabel({}, Quillet::font(10.5), Quillet::Tone::secondary))
{
    setCursor(Qt::PointingHandCursor);
    EnterKey::pressesButton(*this);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* symbol = new SymbolView(QStringLiteral("arrow.down.circle.fill"), 15, Quillet::Tone::accent);
    auto* headline
        = new ToneLabel(QStringLiteral("Update available"), Quillet::font(12, QFont::Medium), Quillet::Tone::primary);
    m_detail->setMaximumLines(1);
    for (QLabel* label : { static_cast<QLabel*>(headline), static_cast<QLabel*>(m_detail) })
        label->setTextFormat(Qt::PlainText);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    texts->addWidget(headline);
    texts->addWidget(m_detail);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kOuter + kPadding);
    row->setSpacing(9);
    row->addWidget(symbol, 0, Qt::AlignVCenter);
    row->addLayout(texts, 1);

    connect(this, &QAbstractButton::clicked, &m_updater, &UpdateChecker::openDownload);
    connect(&m_updater, &UpdateChecker::latestVersionChanged, this, &UpdateBanner::showVersion);
    showVersion();
}

QString UpdateBanner::detailText() const
{
    return m_detail->text();
}

void UpdateBanner::showVersion()
{
    const QString version = m_updater.latestVersion();
    m_detail->setText(version.isEmpty()
            ? QStringLiteral("Click to download")
            : QStringLiteral("Version ") + version + QStringLiteral(" — click to download"));
}

QRect UpdateBanner::cardRect() const
{
    return rect() - kOuter;
}

bool UpdateBanner::hitButton(const QPoint& position) const
{
    return cardRect().contains(position);
}

void UpdateBanner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(cardRect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal pressed = isDown() ? 0.16 : 0.1;
    Quillet::fillRoundedRect(painter, card, kRadius, Quillet::withOpacity(Quillet::accent(), pressed));
    painter.setPen(QPen(Quillet::withOpacity(Quillet::accent(), 0.25), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(card, kRadius - 0.5, kRadius - 0.5);
    if (FocusRing::shows(*this))
        FocusRing::paint(painter, QRectF(cardRect()), kRadius);
}
