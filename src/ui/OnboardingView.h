#pragma once

#include <QWidget>
#include <functional>

class Settings;

// The first-run guide, the content of the onboarding window. For now a single step: "Get
// started" stores that the onboarding was completed and calls onComplete, after which whoever
// made the window closes it.
class OnboardingView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OnboardingView)

public:
    OnboardingView(Settings& settings, std::function<void()> onComplete, QWidget* parent = nullptr);
};
