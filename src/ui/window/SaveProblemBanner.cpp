#include "ui/window/SaveProblemBanner.h"

#include "ui/design/Quillet.h"
#include "ui/design/SymbolView.h"
#include "ui/design/ToneLabel.h"

#include <QDir>
#include <QHBoxLayout>
#include <QPainter>

namespace {
constexpr QMargins kPadding { 14, 8, 14, 8 };
} // namespace

SaveProblemBanner::SaveProblemBanner(SaveHealth& health, const ArchiveQueue& archive, QWidget* parent)
    : QWidget(parent)
    , m_health(health)
    , m_archive(archive)
    , m_content(new QWidget(this))
    , m_message(new ToneLabel({}, Quillet::font(12.5), Quillet::Tone::primary))
{
    // The sentence wraps rather than being cut in a narrow window.
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    m_message->setMinimumWidth(1);
    auto* row = new QHBoxLayout(m_content);
    row->setContentsMargins(kPadding);
    row->setSpacing(10);
    row->addWidget(new SymbolView(QStringLiteral("exclamationmark.circle"), 12.5, Quillet::Tone::accent));
    row->addWidget(m_message, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_content);

    connect(&m_health, &SaveHealth::problemChanged, this, &SaveProblemBanner::follow);
    connect(&m_archive, &ArchiveQueue::problemChanged, this, &SaveProblemBanner::follow);
    follow();
}

QString SaveProblemBanner::message(SaveHealth::Problem problem)
{
    switch (problem) {
    case SaveHealth::Problem::diskFull:
        return QStringLiteral("Quillet couldn't save your changes: the disk is full.");
    case SaveHealth::Problem::writeFailed:
        return QStringLiteral("Quillet couldn't save your changes: its data file can't be written.");
    case SaveHealth::Problem::none:
        break;
    }
    return {};
}

QString SaveProblemBanner::message(ArchiveQueue::Problem problem, const QString& folder, const QString& reason)
{
    const QString shown = QDir::toNativeSeparators(folder);
    switch (problem) {
    case ArchiveQueue::Problem::folderFull:
        return QStringLiteral("Quillet couldn't write your notes folder, %1: the disk is full. Your meetings are "
                              "saved; their files are written once there is room.")
            .arg(shown);
    case ArchiveQueue::Problem::writeFailed:
        return QStringLiteral("Quillet couldn't write your notes folder, %1: %2. Your meetings are saved; Quillet "
                              "tries again.")
            .arg(shown, reason);
    case ArchiveQueue::Problem::indexRebuilt:
        return QStringLiteral("Quillet rebuilt the index of your notes folder, %1: %2. No meeting file was changed; a "
                              "meeting whose file it did not recognise gets a new file beside it.")
            .arg(shown, reason);
    case ArchiveQueue::Problem::none:
        break;
    }
    return {};
}

QString SaveProblemBanner::message() const
{
    QStringList sentences;
    if (m_health.problem() != SaveHealth::Problem::none)
        sentences.append(message(m_health.problem()));
    if (m_archive.problem() != ArchiveQueue::Problem::none)
        sentences.append(message(m_archive.problem(), m_archive.folder(), m_archive.reason()));
    return sentences.join(u'\n');
}

bool SaveProblemBanner::hasProblem() const
{
    return m_health.problem() != SaveHealth::Problem::none || m_archive.problem() != ArchiveQueue::Problem::none;
}

QSize SaveProblemBanner::sizeHint() const
{
    if (!hasProblem())
        return { 0, 0 };
    return { 0, m_content->sizeHint().height() };
}

bool SaveProblemBanner::hasHeightForWidth() const
{
    return true;
}

int SaveProblemBanner::heightForWidth(int width) const
{
    if (!hasProblem())
        return 0;
    return m_content->heightForWidth(width);
}

void SaveProblemBanner::follow()
{
    m_message->setText(message());
    m_content->setVisible(hasProblem());
    updateGeometry();
    update();
}

void SaveProblemBanner::paintEvent(QPaintEvent*)
{
    if (!hasProblem())
        return;
    QPainter painter(this);
    Quillet::fillRect(painter, rect(), Quillet::withOpacity(Quillet::accent(), 0.08));
    Quillet::fillRect(painter, QRectF(0, height() - 1, width(), 1), Quillet::cardStroke(palette()));
}
