#include "ui/FixItBanner.h"

FixItBanner::FixItBanner(AccountService&, QWidget* parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}
