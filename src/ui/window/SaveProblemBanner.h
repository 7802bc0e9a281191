#pragma once

#include "archive/ArchiveQueue.h"
#include "storage/SaveHealth.h"

#include <QWidget>

class QLabel;

// The strip over the detail column that says, in words, that changes are not reaching the
// disk: the store's, for as long as SaveHealth reports it, and the notes folder's, for as long
// as the ArchiveQueue does; hidden inside (no height) while both go through.
class SaveProblemBanner final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SaveProblemBanner)

public:
    SaveProblemBanner(SaveHealth& health, const ArchiveQueue& archive, QWidget* parent = nullptr);

    // The sentences shown, one per line; empty while saves and archive writes go through.
    QString message() const;
    static QString message(SaveHealth::Problem problem);
    static QString message(ArchiveQueue::Problem problem, const QString& folder, const QString& reason);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return { 0, 0 }; }
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void follow();
    bool hasProblem() const;

    SaveHealth& m_health;
    const ArchiveQueue& m_archive;
    QWidget* m_content;
    QLabel* m_message;
};
