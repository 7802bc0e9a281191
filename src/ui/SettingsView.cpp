#include "ui/SettingsView.h"

#include "ui/Quillet.h"
#include "ui/ToneLabel.h"

#include <QVBoxLayout>

SettingsView::SettingsView(AppServices&, QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 24);
    layout->addWidget(new ToneLabel(
        QStringLiteral("Settings"), Quillet::font(22, QFont::Normal, Quillet::Design::serif), Quillet::Tone::primary));
    layout->addStretch();
}
