#include "ui/sidebar/SidebarAccountFooter.h"

#include "account/AccountService.h"
#include "format/NumberFormat.h"
#include "ui/design/EnterKey.h"
#include "ui/design/FocusRing.h"
#include "ui/design/Quillet.h"
#include "ui/design/SymbolView.h"
#include "ui/design/Symbols.h"
#include "ui/design/ToneLabel.h"
#include "ui/home/MeetingMenu.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QVBoxLayout>

namespace {

constexpr QMargins kOuter { 8, 6, 8, 8 };
constexpr QMargins kPadding { 10, 7, 10, 7 };
constexpr qreal kRadius = 9;
constexpr int kAvatarSide = 26;

// The chip: a button that paints its card and lets its labels show through.
class Chip final : public QAbstractButton
{
public:
    explicit Chip(QWidget* parent = nullptr)
        : QAbstractButton(parent)
    {
        EnterKey::pressesButton(*this);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = Quillet::cardFill(palette());
        if (isDown())
            fill = Quillet::cardStroke(palette());
        Quillet::fillRoundedRect(painter, rect(), kRadius, fill);
        if (FocusRing::shows(*this))
            FocusRing::paint(painter, QRectF(rect()), kRadius);
    }
};

} // namespace

// The round badge: accent with a filled person when signed in, grey with an outline when not.
class SidebarAccountFooter::Avatar final : public QWidget
{
public:
    using QWidget::QWidget;

    void setSignedIn(bool signedIn)
    {
        m_signedIn = signedIn;
        update();
    }
    QSize sizeHint() const override { return { kAvatarSide, kAvatarSide }; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_signedIn ? Quillet::accent() : Quillet::withOpacity(Quillet::secondary(palette()), 0.4));
        const QRectF circle = QRectF(0, 0, kAvatarSide, kAvatarSide);
        painter.drawEllipse(circle);
        const qreal side = Symbols::sideFor(12);
        Symbols::paint(painter, m_signedIn ? QStringLiteral("person.fill") : QStringLiteral("person"),
            QRectF(circle.center() - QPointF(side / 2, side / 2), QSizeF(side, side)), Qt::white);
    }

private:
    bool m_signedIn = false;
};

SidebarAccountFooter::SidebarAccountFooter(
    AccountService& account, std::function<void()> onOpenSettings, QWidget* parent)
    : QWidget(parent)
    , m_account(account)
    , m_onOpenSettings(std::move(onOpenSettings))
    , m_chip(new Chip)
    , m_avatar(new Avatar)
    , m_name(new ToneLabel({}, Quillet::font(12.5, QFont::Medium), Quillet::Tone::primary))
    , m_credit(new ToneLabel({}, Quillet::font(10.5), Quillet::Tone::secondary))
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_avatar->setFixedSize(kAvatarSide, kAvatarSide);
    for (ToneLabel* label : { m_name, m_credit }) {
        label->setTextFormat(Qt::PlainText);
        label->setMaximumLines(1);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        // Clicks go through to the chip.
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    m_avatar->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* chevron = new SymbolView(QStringLiteral("chevron.up.chevron.down"), 9, Quillet::Tone::tertiary);
    chevron->setAttribute(Qt::WA_TransparentForMouseEvents);

    // Centred on the avatar whether one line shows or two.
    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    texts->addStretch(1);
    texts->addWidget(m_name);
    texts->addWidget(m_credit);
    texts->addStretch(1);
    auto* row = new QHBoxLayout(m_chip);
    row->setContentsMargins(kPadding);
    row->setSpacing(9);
    row->addWidget(m_avatar, 0, Qt::AlignVCenter);
    row->addLayout(texts, 1);
    row->addSpacing(4);
    row->addWidget(chevron, 0, Qt::AlignVCenter);
    m_chip->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(kOuter);
    outer->addWidget(m_chip);

    connect(m_chip, &QAbstractButton::clicked, this, &SidebarAccountFooter::openMenu);
    for (auto signal :
        { &AccountService::changed, &AccountService::tessraKeyChanged, &AccountService::tessraBalanceChanged })
        connect(&m_account, signal, this, &SidebarAccountFooter::refresh);
    refresh();
}

QString SidebarAccountFooter::nameText() const
{
    return m_name->text();
}

QString SidebarAccountFooter::creditText() const
{
    return m_credit->isVisibleTo(this) ? m_credit->text() : QString();
}

QString SidebarAccountFooter::creditLine() const
{
    if (!m_account.tessraKey())
        return {};
    const std::optional<double> balance = m_account.tessraBalance();
    if (!balance)
        return QStringLiteral("Tessra account");
    return QStringLiteral("Tessra · $") + NumberFormat::fixed(*balance, 2);
}

void SidebarAccountFooter::refresh()
{
    const bool signedIn = m_account.isSignedIn();
    m_avatar->setSignedIn(signedIn);
    m_name->setText(
        signedIn ? m_account.displayEmail().value_or(QStringLiteral("Account")) : QStringLiteral("Sign in"));
    const QString credit = creditLine();
    m_credit->setText(credit);
    m_credit->setVisible(!credit.isEmpty());
    // The chip's labels are its content, not its text: a screen reader reads the chip by this.
    m_chip->setAccessibleName(credit.isEmpty() ? m_name->text() : m_name->text() + QStringLiteral(", ") + credit);
}

QMenu* SidebarAccountFooter::makeMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    const QPointer<SidebarAccountFooter> self(this);
    const auto openSettings = [self] {
        if (self && self->m_onOpenSettings)
            self->m_onOpenSettings();
    };
    if (!m_account.isSignedIn()) {
        menu->addAction(
            Symbols::icon(QStringLiteral("person.crop.circle")), QStringLiteral("Sign in…"), this, openSettings);
        menu->addSeparator();
        menu->addAction(Symbols::icon(QStringLiteral("gearshape")), QStringLiteral("Settings…"), this, openSettings);
        return menu;
    }
    // Data lines: shown as they are, never as a shortcut letter.
    const auto inert = [menu](const QString& text) {
        QAction* line = menu->addAction(QString(text).replace(QLatin1Char('&'), QStringLiteral("&&")));
        line->setEnabled(false);
    };
    inert(m_account.displayEmail().value_or(QStringLiteral("Signed in")));
    const QString credit = creditLine();
    if (!credit.isEmpty())
        inert(credit);
    menu->addSeparator();
    if (m_account.tessraKey()) {
        menu->addAction(
            Symbols::icon(QStringLiteral("creditcard")), QStringLiteral("Add credit on Tessra"), this, [self] {
                if (self)
                    self->m_account.topUpTessra();
            });
    }
    menu->addAction(Symbols::icon(QStringLiteral("gearshape")), QStringLiteral("Settings…"), this, openSettings);
    menu->addSeparator();
    QAction* signOut = menu->addAction(
        Symbols::icon(QStringLiteral("rectangle.portrait.and.arrow.right")), QStringLiteral("Sign Out"), this, [self] {
            if (self)
                self->m_account.signOut();
        });
    markDestructive(*menu, *signOut);
    return menu;
}

void SidebarAccountFooter::openMenu()
{
    QMenu* menu = makeMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QPoint top = m_chip->mapToGlobal(QPoint(0, 0));
    menu->popup(top - QPoint(0, menu->sizeHint().height() + 2));
}

void SidebarAccountFooter::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    Quillet::fillRect(painter, rect(), palette().color(QPalette::Window));
}
