#include "ui/design/Alert.h"

#include <QGridLayout>
#include <QMessageBox>
#include <algorithm>

void fitAlertToText(QMessageBox& alert)
{
    constexpr int kTitleBarRoom = 160;
    constexpr int kMinimumWidth = 320;
    constexpr int kMaximumWidth = 520;
    const QFontMetrics metrics(alert.font());
    int width = metrics.horizontalAdvance(alert.windowTitle()) + kTitleBarRoom;
    for (const QString& line : alert.text().split(QLatin1Char('\n')))
        width = std::max(width, metrics.horizontalAdvance(line));
    width = std::clamp(width, kMinimumWidth, kMaximumWidth);
    if (auto* grid = qobject_cast<QGridLayout*>(alert.layout())) {
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
            grid->columnCount());
    }
}

QMessageBox* openAlert(QWidget* parent, const QString& title, const QString& message)
{
    auto* alert = new QMessageBox(parent);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowTitle(title);
    alert->setTextFormat(Qt::PlainText);
    alert->setText(message);
    fitAlertToText(*alert);
    alert->addButton(QStringLiteral("OK"), QMessageBox::RejectRole);
    alert->open();
    return alert;
}
