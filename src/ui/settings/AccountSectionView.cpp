#include "ui/settings/AccountSectionView.h"

#include "account/AccountService.h"
#include "format/NumberFormat.h"
#include "ui/design/Announcement.h"
#include "ui/design/Availability.h"
#include "ui/design/EnterKey.h"
#include "ui/design/PillButton.h"
#include "ui/design/PlainButton.h"
#include "ui/design/Quillet.h"
#include "ui/design/Spinner.h"
#include "ui/design/ToneLabel.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBoundaryFinder>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kSmallSpinner = 12;
constexpr int kCodeLength = 6;
constexpr int kCodeFieldWidth = 120;
// From this share of the month's minutes on, the usage is drawn in the accent colour.
constexpr double kWarningFraction = 0.9;
constexpr int kBarSteps = 1000;

bool isEmailPlausible(const QString& email)
{
    const QString trimmed = email.trimmed();
    if (!trimmed.contains(QLatin1Char('@')) || !trimmed.contains(QLatin1Char('.')))
        return false;
    // Characters as the user sees them: "é" typed as e and a combining accent is one.
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, trimmed);
    int count = 0;
    while (graphemes.toNextBoundary() != -1)
        ++count;
    return count > 5;
}

// The numerals of a text, of any script, at most six. Taken by code point: a numeral outside
// the Basic Multilingual Plane is two UTF-16 units and must count, and stay, as one.
QString codeDigits(const QString& text)
{
    QString digits;
    int count = 0;
    for (const uint unit : text.toUcs4()) {
        const auto codePoint = char32_t(unit);
        if (!QChar::isNumber(codePoint))
            continue;
        digits.append(QString::fromUcs4(&codePoint, 1));
        if (++count == kCodeLength)
            break;
    }
    return digits;
}

int codePointCount(const QString& text)
{
    return int(text.toUcs4().size());
}

// Minutes as a whole number, the fraction dropped. A figure that is not finite or lies outside
// what 64 bits hold shows as 0: converting it would be undefined.
qint64 wholeMinutes(double minutes)
{
    constexpr double kLimit = 9223372036854775808.0; // 2^63
    if (!(minutes >= -kLimit && minutes < kLimit))
        return 0;
    return static_cast<qint64>(minutes);
}

double usedFraction(double used, double quota)
{
    const double fraction = quota > 0 ? std::min(used / quota, 1.0) : 0.0;
    return std::isfinite(fraction) && fraction >= 0 ? fraction : 0.0;
}

QString resendLabel(int cooldown)
{
    return cooldown < 1 ? QStringLiteral("Resend") : QStringLiteral("Resend (%1s)").arg(cooldown);
}

QVBoxLayout* column(QWidget* widget, int spacing)
{
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

// The usage bar: a neutral tone while the allowance lasts and the accent from the warning
// threshold on. The palette's highlight is the accent in every theme, so the bar paints its
// own fill, in the colours of the palette it is painted with.
class UsageBar final : public QProgressBar
{
public:
    void setWarning(bool warning)
    {
        m_warning = warning;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF track(rect());
        const qreal radius = track.height() / 2;
        Quillet::fillRoundedRect(painter, track, radius, Quillet::cardStroke(palette()));
        const int span = maximum() - minimum();
        const qreal fraction = span > 0 ? qreal(value() - minimum()) / span : 0;
        if (fraction <= 0)
            return;
        const QRectF fill(track.topLeft(), QSizeF(std::max(track.height(), track.width() * fraction), track.height()));
        Quillet::fillRoundedRect(painter, fill, radius, m_warning ? Quillet::accent() : Quillet::secondary(palette()));
    }

private:
    bool m_warning = false;
};

} // namespace

AccountSectionView::AccountSectionView(AccountService& account, bool compact, QWidget* parent)
    : QWidget(parent)
    , m_account(account)
    , m_compact(compact)
{
    QVBoxLayout* layout = column(this, 10);
    m_emailEntry = makeEmailEntry();
    m_codeEntry = makeCodeEntry();
    m_signingIn = makeSigningIn();
    m_signedIn = makeSignedIn();
    for (QWidget* face : { m_emailEntry, m_codeEntry, m_signingIn, m_signedIn }) {
        face->hide();
        layout->addWidget(face);
    }
    m_errorLine = new ToneLabel({}, Quillet::caption(), Quillet::Tone::accent);
    Announcement::marks(*m_errorLine, QAccessible::AlertMessage);
    m_errorLine->setWordWrap(true);
    layout->addWidget(m_errorLine);

    // The refresh belongs to the signed-in face: it runs whenever that face comes into view.
    m_signedIn->installEventFilter(this);
    connect(&m_account, &AccountService::changed, this, &AccountSectionView::refreshFromService);
    refreshFromService();
}

QWidget* AccountSectionView::makeEmailEntry()
{
    auto* face = new QWidget;
    QVBoxLayout* layout = column(face, 10);

    m_providerButton = new PillButton(QStringLiteral("Continue with Google"), true);
    m_providerButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(m_providerButton, &QAbstractButton::clicked, this, [this] {
        emit attempted();
        m_account.signInWithTessra();
    });
    layout->addWidget(m_providerButton);

    if (!m_compact) {
        auto* explanation = new ToneLabel(
            QStringLiteral("One tap, no password — or use email below. Free monthly transcription, no API key."),
            Quillet::body(), Quillet::Tone::secondary);
        explanation->setWordWrap(true);
        layout->addWidget(explanation);
    }

    auto* row = new QHBoxLayout;
    m_emailField = new QLineEdit;
    m_emailField->setPlaceholderText(QStringLiteral("name@example.com"));
    // The placeholder is a sample address, no name for the field.
    m_emailField->setAccessibleName(QStringLiteral("Email"));
    m_emailField->setInputMethodHints(Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText | Qt::ImhEmailCharactersOnly);
    connect(m_emailField, &QLineEdit::returnPressed, this, &AccountSectionView::sendEmail);
    connect(m_emailField, &QLineEdit::textChanged, this, &AccountSectionView::updateEmailEntry);
    m_sendButton = new PillButton(QStringLiteral("Send link"), false);
    // The spinner that replaces the text while sending leaves the row as it was, and the
    // button its name: pressed from the keyboard it keeps the focus while it spins.
    m_sendButton->setMinimumWidth(m_sendButton->sizeHint().width());
    m_sendButton->setAccessibleName(m_sendButton->text());
    connect(m_sendButton, &QAbstractButton::clicked, this, &AccountSectionView::sendEmail);
    row->addWidget(m_emailField, 1);
    row->addWidget(m_sendButton);
    layout->addLayout(row);
    return face;
}

QWidget* AccountSectionView::makeCodeEntry()
{
    auto* face = new QWidget;
    QVBoxLayout* layout = column(face, 8);

    layout->addWidget(new ToneLabel(QStringLiteral("Check your email"), Quillet::headline(), Quillet::Tone::primary));
    m_codeSentence = new ToneLabel({}, Quillet::body(), Quillet::Tone::secondary);
    // Rich text only for the bold address, which is escaped: it is what the user typed.
    m_codeSentence->setTextFormat(Qt::RichText);
    m_codeSentence->setWordWrap(true);
    layout->addWidget(m_codeSentence);

    auto* row = new QHBoxLayout;
    m_codeField = new QLineEdit;
    m_codeField->setPlaceholderText(QStringLiteral("6-digit code"));
    m_codeField->setFixedWidth(kCodeFieldWidth);
    m_codeField->setInputMethodHints(Qt::ImhDigitsOnly | Qt::ImhNoPredictiveText);
    connect(m_codeField, &QLineEdit::textEdited, this, &AccountSectionView::filterCode);
    connect(m_codeField, &QLineEdit::returnPressed, this, &AccountSectionView::verifyCode);
    m_verifyButton = new QPushButton(QStringLiteral("Verify"));
    m_verifyButton->setAutoDefault(false);
    EnterKey::pressesButton(*m_verifyButton);
    connect(m_verifyButton, &QAbstractButton::clicked, this, &AccountSectionView::verifyCode);
    m_resendButton = new PlainButton(QStringLiteral("Resend"), Quillet::caption(), Quillet::Tone::secondary);
    connect(m_resendButton, &QAbstractButton::clicked, this, [this] {
        emit attempted();
        m_account.sendSignInEmail(m_account.flowEmail());
    });
    row->addWidget(m_codeField);
    row->addWidget(m_verifyButton);
    row->addStretch(1);
    row->addWidget(m_resendButton);
    layout->addLayout(row);

    auto* differentEmail
        = new PlainButton(QStringLiteral("Use a different email"), Quillet::caption(), Quillet::Tone::secondary);
    connect(differentEmail, &QAbstractButton::clicked, this, [this] {
        m_account.setFlow(AccountService::Flow::idle());
        m_account.setFlowError(std::nullopt);
        m_codeField->clear();
        updateCodeEntry();
    });
    layout->addWidget(differentEmail, 0, Qt::AlignLeading);
    return face;
}

QWidget* AccountSectionView::makeSigningIn()
{
    auto* face = new QWidget;
    auto* layout = new QHBoxLayout(face);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(new Spinner(kSmallSpinner));
    m_signingInLine = new ToneLabel(QStringLiteral("Signing you in…"), Quillet::body(), Quillet::Tone::primary);
    layout->addWidget(m_signingInLine);
    layout->addStretch(1);
    return face;
}

QWidget* AccountSectionView::makeSignedIn()
{
    auto* face = new QWidget;
    QVBoxLayout* layout = column(face, 8);

    auto* header = new QHBoxLayout;
    m_signedInEmail = new ToneLabel({}, Quillet::body(), Quillet::Tone::primary);
    auto* signOut = new QPushButton(QStringLiteral("Sign out"));
    signOut->setFont(Quillet::font(11));
    signOut->setAutoDefault(false);
    EnterKey::pressesButton(*signOut);
    connect(signOut, &QAbstractButton::clicked, this, &AccountSectionView::confirmSignOut);
    header->addWidget(m_signedInEmail);
    header->addStretch(1);
    header->addWidget(signOut);
    layout->addLayout(header);

    // Without a keyring the sign-in still works, but the next start begins signed out.
    m_unkeptLine = new ToneLabel(QStringLiteral("No keyring could keep this sign-in: it works until Quillet quits."),
        Quillet::caption(), Quillet::Tone::accent);
    m_unkeptLine->setWordWrap(true);
    layout->addWidget(m_unkeptLine);

    m_allowanceLine = new ToneLabel({}, Quillet::caption(), Quillet::Tone::secondary);
    m_allowanceLine->setWordWrap(true);
    layout->addWidget(m_allowanceLine);

    m_usageBlock = new QWidget;
    QVBoxLayout* usage = column(m_usageBlock, 4);
    m_usageBar = new UsageBar;
    m_usageBar->setRange(0, kBarSteps);
    m_usageBar->setTextVisible(false);
    m_usageBar->setFixedHeight(6);
    m_usageText = new ToneLabel({}, Quillet::caption(), Quillet::Tone::secondary);
    usage->addWidget(m_usageBar);
    usage->addWidget(m_usageText);
    layout->addWidget(m_usageBlock);

    m_ownKeyLine = new ToneLabel(QStringLiteral("Using your own Tessra key — the free allowance isn't used."),
        Quillet::caption(), Quillet::Tone::secondary);
    m_ownKeyLine->setWordWrap(true);
    layout->addWidget(m_ownKeyLine);
    return face;
}

bool AccountSectionView::eventFilter(QObject* watched, QEvent* event)
{
    // Shown again after being hidden (a face switch, the page or the card shown again), not
    // the window coming back from being minimised.
    if (watched == m_signedIn && event->type() == QEvent::Show && !event->spontaneous())
        m_account.refresh();
    return QWidget::eventFilter(watched, event);
}

void AccountSectionView::refreshFromService()
{
    Face face = Face::emailEntry;
    if (m_account.isSignedIn()) {
        face = Face::signedIn;
    } else {
        switch (m_account.flowKind()) {
        case AccountService::FlowKind::Idle:
        case AccountService::FlowKind::Sending:
            face = Face::emailEntry;
            break;
        case AccountService::FlowKind::CodeSent:
            face = Face::codeEntry;
            break;
        case AccountService::FlowKind::Verifying:
            face = Face::signingIn;
            break;
        }
    }
    updateEmailEntry();
    updateCodeEntry();
    updateSignedIn();
    const std::optional<QString> error = m_account.flowError();
    m_errorLine->setVisible(error.has_value());
    Announcement::setText(*m_errorLine, error.value_or(QString()));
    showFace(face);
}

void AccountSectionView::showFace(Face face)
{
    const Face before = std::exchange(m_face, face);
    QWidget* shown = face == Face::emailEntry ? m_emailEntry
        : face == Face::codeEntry             ? m_codeEntry
        : face == Face::signingIn             ? m_signingIn
                                              : m_signedIn;
    // The keyboard goes where the step's outcome is, not to whatever follows the face that
    // goes: there one more key would act on another control.
    const QWidget* focused = QApplication::focusWidget();
    const bool focusMoves = focused && !shown->isAncestorOf(focused)
        && (m_emailEntry->isAncestorOf(focused) || m_codeEntry->isAncestorOf(focused)
            || m_signingIn->isAncestorOf(focused) || m_signedIn->isAncestorOf(focused));
    if (face == Face::codeEntry && before != Face::codeEntry)
        Announcement::say(
            *this, QStringLiteral("Check your email. We sent a sign-in link to %1.").arg(m_account.flowEmail()));
    // Hidden first, so that the card never holds two faces at once.
    for (QWidget* widget : { m_emailEntry, m_codeEntry, m_signingIn, m_signedIn })
        if (widget != shown)
            widget->hide();
    shown->show();
    if (focusMoves) {
        QWidget* target = face == Face::emailEntry ? static_cast<QWidget*>(m_emailField)
            : face == Face::codeEntry              ? static_cast<QWidget*>(m_codeField)
            : face == Face::signingIn              ? static_cast<QWidget*>(m_signingInLine)
                                                   : static_cast<QWidget*>(m_signedInEmail);
        target->setFocus(Qt::OtherFocusReason);
    }
}

void AccountSectionView::updateEmailEntry()
{
    const bool signingIn = m_account.tessraSigningIn();
    PillButton::Mark providerMark;
    if (signingIn) {
        providerMark.shape = PillButton::Mark::Shape::spinner;
        providerMark.size = kSmallSpinner;
    } else {
        providerMark.shape = PillButton::Mark::Shape::symbol;
        providerMark.symbol = QStringLiteral("person.crop.circle.badge.checkmark");
        providerMark.size = 12.5;
    }
    providerMark.spacing = 7;
    m_providerButton->setMark(providerMark);
    m_providerButton->setText(signingIn ? QStringLiteral("Opening sign-in…") : QStringLiteral("Continue with Google"));
    Availability::set(*m_providerButton, !signingIn);

    const bool sending = m_account.flowKind() == AccountService::FlowKind::Sending;
    PillButton::Mark sendMark;
    if (sending) {
        sendMark.shape = PillButton::Mark::Shape::spinner;
        sendMark.size = kSmallSpinner;
    }
    m_sendButton->setMark(sendMark);
    m_sendButton->setText(sending ? QString() : QStringLiteral("Send link"));
    Availability::set(*m_sendButton, !sending && isEmailPlausible(m_emailField->text()));
}

void AccountSectionView::updateCodeEntry()
{
    const QString sentence = QStringLiteral(
        "We sent a sign-in link to <b>%1</b>. Click it on this computer — or type the 6-digit code here.");
    m_codeSentence->setText(sentence.arg(m_account.flowEmail().toHtmlEscaped()));
    m_verifyButton->setEnabled(codePointCount(m_codeField->text()) == kCodeLength);
    const int cooldown = m_account.resendCooldown();
    m_resendButton->setText(resendLabel(cooldown));
    m_resendButton->updateGeometry();
    Availability::set(*m_resendButton, cooldown <= 0);
}

void AccountSectionView::updateSignedIn()
{
    m_signedInEmail->setText(m_account.displayEmail().value_or(QStringLiteral("Signed in")));
    m_unkeptLine->setVisible(m_account.unkeptSecrets().testAnyFlags(
        AccountService::Secret::session | AccountService::Secret::providerSignIn));

    QString allowance;
    bool showUsage = false;
    if (m_account.tessraKey()) {
        const std::optional<double> balance = m_account.tessraBalance();
        allowance = balance
            ? QStringLiteral("Tessra balance: $%1 — pay-as-you-go").arg(NumberFormat::fixed(*balance, 2))
            : QStringLiteral("Using your Tessra account credit");
    } else if (m_account.hasUnlimitedMinutes()) {
        allowance = QStringLiteral("Unlimited minutes");
    } else if (m_account.account()) {
        showUsage = true;
    }
    m_allowanceLine->setText(allowance);
    m_allowanceLine->setVisible(!allowance.isEmpty());
    m_usageBlock->setVisible(showUsage);
    if (showUsage) {
        const QuilletCloud::AccountInfo::Usage& usage = m_account.account()->usage;
        const double fraction = usedFraction(usage.minutesUsed, usage.quotaMinutes);
        const QString used = QString::number(wholeMinutes(usage.minutesUsed));
        const QString quota = QString::number(wholeMinutes(usage.quotaMinutes));
        m_usageBar->setValue(qRound(fraction * kBarSteps));
        m_usageText->setText(QStringLiteral("%1 of %2 minutes used this month").arg(used, quota));
        m_usageText->setAccessibleName(QStringLiteral("%1 of %2 minutes used").arg(used, quota));
        const bool warning = fraction >= kWarningFraction;
        static_cast<UsageBar*>(m_usageBar)->setWarning(warning);
        m_usageText->setTone(warning ? Quillet::Tone::accent : Quillet::Tone::secondary);
    }
    m_ownKeyLine->setVisible(m_account.hasByoKey());
}

void AccountSectionView::sendEmail()
{
    // As typed: the service trims and lower-cases the address itself.
    if (!isEmailPlausible(m_emailField->text()))
        return;
    emit attempted();
    m_account.sendSignInEmail(m_emailField->text());
}

void AccountSectionView::verifyCode()
{
    if (codePointCount(m_codeField->text()) != kCodeLength)
        return;
    emit attempted();
    m_account.verifyCode(m_codeField->text());
}

void AccountSectionView::filterCode(const QString& edited)
{
    const QString digits = codeDigits(edited);
    if (digits != edited)
        m_codeField->setText(digits);
    updateCodeEntry();
}

void AccountSectionView::confirmSignOut()
{
    if (m_signOutConfirmation)
        return;
    auto* box = new QMessageBox(
        QMessageBox::NoIcon, QString(), QStringLiteral("Sign out of Quillet?"), QMessageBox::NoButton, this);
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(QStringLiteral("Your notes, archive, and settings stay on this computer."));
    QPushButton* signOut = box->addButton(QStringLiteral("Sign Out"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box->setEscapeButton(cancel);
    // Return must never sign out by accident: the safe answer is the default.
    box->setDefaultButton(cancel);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QDialog::finished, this, [this, box, signOut] {
        if (box->clickedButton() == signOut)
            m_account.signOut();
    });
    m_signOutConfirmation = box;
    box->open();
}
