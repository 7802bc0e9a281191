#include "ui/OnboardingView.h"

#include "platform/Settings.h"
#include "ui/PillButton.h"
#include "ui/Quillet.h"
#include "ui/ToneLabel.h"

#include <QVBoxLayout>

OnboardingView::OnboardingView(Settings& settings, std::function<void()> onComplete, QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(440, 500);
    auto* title = new ToneLabel(QStringLiteral("Welcome to Quillet"),
        Quillet::font(26, QFont::Normal, Quillet::Design::serif), Quillet::Tone::primary);
    auto* start = new PillButton(QStringLiteral("Get started"), true);
    connect(start, &QAbstractButton::clicked, this, [&settings, onComplete = std::move(onComplete)] {
        settings.set(SettingsKeys::onboardingCompleted, true);
        onComplete();
    });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->addStretch();
    layout->addWidget(title, 0, Qt::AlignHCenter);
    layout->addSpacing(24);
    layout->addWidget(start, 0, Qt::AlignHCenter);
    layout->addStretch();
}
