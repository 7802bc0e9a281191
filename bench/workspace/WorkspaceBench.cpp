// Prints how the meeting workspace keeps up with long transcripts, driving the real views in a
// 1120 × 740 window:
//
//   bench_workspace [--segments N]
//
// - appending: N segments (default 10,000) appended one by one to a live meeting whose feed is
//   on screen at its end; each append is timed through grouping, layout and paint;
// - a draft change at N segments.

#include "storage/Meeting.h"
#include "storage/TranscriptSegment.h"
#include "ui/TranscriptFeedView.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

namespace {

struct Figures
{
    double median = 0;
    double p95 = 0;
    double max = 0;
};

Figures summarise(QList<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) { return samples.at(qMin(samples.size() - 1, qsizetype(q * samples.size()))); };
    return { at(0.5), at(0.95), samples.last() };
}

double msSince(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

QString sentence(QRandomGenerator& random)
{
    static const QStringList words = { QStringLiteral("budget"), QStringLiteral("we"), QStringLiteral("should"),
        QStringLiteral("ship"), QStringLiteral("the"), QStringLiteral("release"), QStringLiteral("next"),
        QStringLiteral("week"), QStringLiteral("and"), QStringLiteral("review"), QStringLiteral("numbers"),
        QStringLiteral("with"), QStringLiteral("finance"), QStringLiteral("first"), QStringLiteral("okay") };
    QString text;
    const int length = 30 + random.bounded(120);
    while (text.size() < length)
        text += words.at(random.bounded(int(words.size()))) + QLatin1Char(' ');
    return text.trimmed() + QLatin1Char('.');
}

// Lets queued work run and paints what changed, as one turn of the event loop would.
void settle(QWidget& window)
{
    QCoreApplication::processEvents();
    window.repaint();
}

void benchAppending(int count)
{
    QRandomGenerator random(7);
    Meeting meeting(QStringLiteral("Long call"), QDateTime::currentDateTimeUtc());
    QWidget window;
    window.resize(1120, 740);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* feed = new TranscriptFeedView(&meeting, true, false, QString());
    layout->addWidget(feed);
    window.show();
    settle(window);

    QList<double> appends;
    appends.reserve(count);
    for (int i = 0; i < count; ++i) {
        // Speakers alternate, two seconds apart: one bubble per segment, the worst case.
        auto* segment = new TranscriptSegment(sentence(random), i % 2 ? Speaker::them() : Speaker::me(), i * 2.0);
        QElapsedTimer timer;
        timer.start();
        meeting.appendSegment(segment);
        settle(window);
        appends.append(msSince(timer));
    }
    QList<double> drafts;
    QString draft;
    for (int i = 0; i < 200; ++i) {
        draft += QStringLiteral("word ");
        if (draft.size() > 120)
            draft.clear();
        QElapsedTimer timer;
        timer.start();
        feed->setDraft(draft);
        settle(window);
        drafts.append(msSince(timer));
    }
    QList<double> groupings;
    for (int i = 0; i < 100; ++i) {
        QElapsedTimer timer;
        timer.start();
        const QList<TranscriptGroup> groups = TranscriptFeedView::groups(meeting.segments());
        groupings.append(msSince(timer));
    }
    const Figures last = summarise(appends.mid(std::max(0, count - 1000)));
    std::printf("appending %d segments, last 1000: median %.2f ms, p95 %.2f ms, max %.2f ms (target: 8 / 16)\n", count,
        last.median, last.p95, last.max);
    const Figures draftFigures = summarise(drafts);
    std::printf("draft change at %d segments: median %.2f ms, p95 %.2f ms (target: median 4)\n", count,
        draftFigures.median, draftFigures.p95);
    std::printf("  grouping alone at %d segments: median %.2f ms\n", count, summarise(groupings).median);
    std::printf(
        "  feed at its end: %s, %d bubbles\n", feed->distanceFromBottom() == 0 ? "yes" : "no", feed->bubbleCount());
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({ QStringLiteral("segments"), QStringLiteral("Segments to append."), QStringLiteral("N"),
        QStringLiteral("10000") });
    parser.process(app);
    benchAppending(parser.value(QStringLiteral("segments")).toInt());
    return 0;
}
