#pragma once

#include <QAbstractButton>

class ToneLabel;
class UpdateChecker;

// The card at the foot of the sidebar that announces a newer version; a click anywhere on it
// opens the download, every time. It has no close control: the sidebar shows it while the
// checker knows of a newer version, and only then.
class UpdateBanner final : public QAbstractButton
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UpdateBanner)

public:
    explicit UpdateBanner(UpdateChecker& updater, QWidget* parent = nullptr);

    QString detailText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& position) const override;

private:
    QRect cardRect() const;
    void showVersion();

    UpdateChecker& m_updater;
    ToneLabel* m_detail;
};
