#pragma once

#include "storage/SaveHealth.h"

#include <QWidget>

class QLabel;

// The strip over the detail column that says, in words, that changes are not reaching the
// disk, for as long as SaveHealth reports it; hidden inside (no height) otherwise.
class SaveProblemBanner final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SaveProblemBanner)

public:
    explicit SaveProblemBanner(SaveHealth& health, QWidget* parent = nullptr);

    // The sentence shown; empty while saves go through.
    QString message() const;
    static QString message(SaveHealth::Problem problem);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return { 0, 0 }; }
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void follow();

    SaveHealth& m_health;
    QWidget* m_content;
    QLabel* m_message;
};
