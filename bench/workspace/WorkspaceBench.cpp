// Prints how the meeting workspace keeps up with long transcripts, driving the real views in a
// 1120 × 740 window:
//
//   bench_workspace [--segments N] [--open-segments M] [--cpu-seconds S]
//
// - appending: N segments (default 10,000) appended one by one to a live meeting whose feed is
//   on screen at its end; each append is timed through grouping, layout and paint;
// - a draft change at N segments;
// - opening, to the first paint, a finished meeting of M segments (default 5,000) with its
//   transcript shown, and a recording one; from a store just opened (its segments are read on
//   first access) and again with them in memory;
// - long model text: a summary of 2,000 lines opened to the first paint, 1 MB of unmatched
//   openers shown, a 500-line answer streamed into the chat panel in pieces (the longest
//   main-thread turn while it streams), and one paragraph of 200 KB grown 1 KB at a time, of
//   mixed markup and again after a "*" that nothing closes;
// - streamed answers (alone with --stream-only): the main thread's time for each 100-character
//   piece of an answer in the real chat panel once 10, 50 and 200 KB of it are shown, and along
//   one line of "[" at 10 and 100 KB;
// - with --cpu-seconds (run it under Xvfb): the CPU a recording's live page costs on screen
//   while a segment arrives every 2 s and the draft changes every 250 ms, then with the window
//   hidden;
// - with --typing-only: typing into the notes of one meeting of a library of --library
//   meetings (default 10,000), and a key at the end of notes of 100 KB, 1 MB and 5 MB;
// - with --reading-only: a screen reader over a transcript of 400 turns: a review of every row
//   (name, role, state, place, as a flat review asks), and a step of the keyboard's row with
//   what a screen reader then asks (the focused row, and every row's state to find it).

#include "BenchFigures.h"
#include "TypingBench.h"
#include "chat/MeetingChatService.h"
#include "markdown/InlineRuns.h"
#include "platform/Settings.h"
#include "storage/Meeting.h"
#include "storage/TranscriptSegment.h"
#include "support/AccessibleTree.h"
#include "support/AppRig.h"
#include "support/TestMain.h"
#include "ui/workspace/FinishedMeetingPage.h"
#include "ui/workspace/LiveMeetingPage.h"
#include "ui/workspace/MeetingChatPanel.h"
#include "ui/workspace/SummaryMarkdown.h"
#include "ui/workspace/TranscriptFeedView.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QPointer>
#include <QRandomGenerator>
#include <QScrollArea>
#include <QScrollBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

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

double processCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

QUuid addMeeting(AppServices& services, int segments, bool recording)
{
    QRandomGenerator random(11);
    auto* meeting = new Meeting(QStringLiteral("Quarterly planning"), QDateTime::currentDateTimeUtc());
    for (int i = 0; i < segments; ++i)
        meeting->appendSegment(
            new TranscriptSegment(sentence(random), i % 3 ? Speaker::them() : Speaker::me(), i * 2.0));
    meeting->setSummary(QStringLiteral("## Decisions\n- **Ship** on Friday\n- [ ] Update the pricing page"));
    meeting->setIsRecording(recording);
    services.store().insert(meeting);
    services.store().save();
    return meeting->id();
}

// From making the view to its first paint in the window; the transcript is shown unless the
// summary is wanted.
double openToFirstPaint(AppServices& services, const QUuid& id, bool transcript = true)
{
    QWidget window;
    window.resize(1120, 740);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    QElapsedTimer timer;
    timer.start();
    MeetingPage* view = MeetingPage::make(*services.store().meetingById(id), WorkspaceServices::of(services));
    if (auto* finished = qobject_cast<FinishedMeetingPage*>(view); finished && transcript)
        finished->setShowTranscript(true);
    layout->addWidget(view);
    window.show();
    window.repaint();
    return msSince(timer);
}

void benchOpening(int segments)
{
    AppRig rig;
    const QUuid finished = addMeeting(*rig, segments, false);
    const QUuid recording = addMeeting(*rig, segments, true);
    rig.restart();
    QElapsedTimer load;
    load.start();
    const qsizetype loaded = rig->store().meetingById(finished)->segments().size();
    const double loading = msSince(load);
    rig.restart();
    const double finishedCold = openToFirstPaint(*rig, finished);
    const double finishedWarm = openToFirstPaint(*rig, finished);
    const double liveCold = openToFirstPaint(*rig, recording);
    const double liveWarm = openToFirstPaint(*rig, recording);
    std::printf("opening %d segments to the first paint (target: 100 ms): finished with its transcript %.1f ms "
                "(%.1f ms in memory), recording %.1f ms (%.1f ms in memory)\n",
        segments, finishedCold, finishedWarm, liveCold, liveWarm);
    std::printf("  of which reading %lld segments from the store: %.1f ms\n", qlonglong(loaded), loading);
}

void benchCpu(int seconds)
{
    AppRig rig;
    const QUuid id = addMeeting(*rig, 300, true);
    Meeting* meeting = rig->store().meetingById(id);
    QWidget window;
    window.resize(1120, 740);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* view = new LiveMeetingPage(*meeting, WorkspaceServices::of(*rig));
    layout->addWidget(view);
    auto* feed = view->findChild<TranscriptFeedView*>();
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);

    QRandomGenerator random(5);
    int next = 300;
    QTimer segments;
    segments.callOnTimeout([&] {
        meeting->appendSegment(new TranscriptSegment(sentence(random), Speaker::them(), next++ * 2.0));
        rig->store().save();
    });
    QString draft;
    QTimer drafts;
    drafts.callOnTimeout([&] {
        draft = draft.size() > 80 ? QString() : draft + QStringLiteral("word ");
        feed->setDraft(draft);
    });
    const auto measure = [&] {
        segments.start(2000);
        drafts.start(250);
        const double before = processCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QEventLoop loop;
        QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
        loop.exec();
        const double used = processCpuSeconds() - before;
        segments.stop();
        drafts.stop();
        return 100.0 * used / (double(wall.elapsed()) / 1000.0);
    };
    const double shown = measure();
    window.hide();
    const double hidden = measure();
    std::printf("CPU of a recording's live face over %d s (a segment every 2 s, a draft every 250 ms), platform %s: "
                "%.2f %% of a core on screen (target 5), %.2f %% hidden (target 0.5)\n",
        seconds, qPrintable(QGuiApplication::platformName()), shown, hidden);
}

// Text as a model writes it: a heading now and then, bullets with a bold lead, tasks, and
// paragraphs with a link or some code.
QString modelText(int lines)
{
    QRandomGenerator random(3);
    QString text;
    for (int i = 0; i < lines; ++i) {
        switch (i % 9) {
        case 0:
            text += QStringLiteral("## Part %1\n").arg(i / 9 + 1);
            break;
        case 1:
        case 2:
        case 3:
            text += QStringLiteral("- **Owner:** ") + sentence(random) + QLatin1Char('\n');
            break;
        case 4:
            text += QStringLiteral("- [ ] ") + sentence(random) + QLatin1Char('\n');
            break;
        case 5:
            text += QStringLiteral("- [x] *Done:* ") + sentence(random) + QLatin1Char('\n');
            break;
        case 6:
            text += sentence(random) + QStringLiteral(" See [the notes](https://notes.test/a) and `run.sh`.\n");
            break;
        default:
            text += sentence(random) + QLatin1Char('\n');
        }
    }
    return text;
}

// From setting the text to the first paint of a 1120 × 740 window that scrolls it.
double showToFirstPaint(const QString& markdown)
{
    QWidget window;
    window.resize(1120, 740);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    layout->addWidget(scroll);
    QElapsedTimer timer;
    timer.start();
    auto* view = new SummaryMarkdown(nullptr);
    view->setMarkdown(markdown);
    scroll->setWidget(view);
    window.show();
    window.repaint();
    return msSince(timer);
}

// A provider on 127.0.0.1 that streams one answer in small events, a piece every millisecond,
// as a fast model does.
class StreamingProvider final : public QObject
{
public:
    explicit StreamingProvider(QStringList pieces)
        : m_pieces(std::move(pieces))
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = m_server.nextPendingConnection();
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                socket->readAll();
                if (socket->property("answering").toBool())
                    return;
                socket->setProperty("answering", true);
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nConnection: close\r\n\r\n");
                auto* timer = new QTimer(socket);
                auto next = std::make_shared<qsizetype>(0);
                timer->callOnTimeout(socket, [this, socket, timer, next] {
                    if (*next == m_pieces.size()) {
                        timer->stop();
                        socket->write("data: [DONE]\n\n");
                        socket->disconnectFromHost();
                        return;
                    }
                    const QJsonObject delta { { QStringLiteral("content"), m_pieces.at((*next)++) } };
                    const QJsonObject choice { { QStringLiteral("delta"), delta } };
                    socket->write("data: "
                        + QJsonDocument(QJsonObject { { QStringLiteral("choices"), QJsonArray { choice } } })
                              .toJson(QJsonDocument::Compact)
                        + "\n\n");
                });
                timer->start(1);
            });
        });
    }

    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort())); }

private:
    QTcpServer m_server;
    QStringList m_pieces;
};

// A provider on 127.0.0.1 that sends one event of an answer each time it is told to.
class SteppedProvider final : public QObject
{
public:
    SteppedProvider()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = m_server.nextPendingConnection();
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                socket->readAll();
                if (m_socket == socket)
                    return;
                m_socket = socket;
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nConnection: close\r\n\r\n");
            });
        });
    }

    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort())); }
    bool connected() const { return m_socket; }

    void send(const QString& piece)
    {
        const QJsonObject delta { { QStringLiteral("content"), piece } };
        const QJsonObject choice { { QStringLiteral("delta"), delta } };
        m_socket->write("data: "
            + QJsonDocument(QJsonObject { { QStringLiteral("choices"), QJsonArray { choice } } })
                  .toJson(QJsonDocument::Compact)
            + "\n\n");
    }

private:
    QTcpServer m_server;
    QPointer<QTcpSocket> m_socket;
};

double threadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// The main thread's time for each 100-character piece of an answer streamed into the real chat
// panel once `shown` characters of it are on screen: the piece read from the connection, the
// answer's rows brought up to date, laid out and painted. The panel sits in a 1120 × 740
// window, as the meeting page shows it.
// A meeting and its chat over a provider on this machine, with settings of their own.
struct BenchChat
{
    explicit BenchChat(const QUrl& provider)
        : chat(
            [provider] {
                return std::optional<ModelCredentials>({ provider, QStringLiteral("t") });
            },
            settings)
    { }

    QTemporaryDir dir;
    Settings settings { dir.filePath(QStringLiteral("settings.ini")) };
    Meeting meeting { QStringLiteral("Budget review"), QDateTime::currentDateTimeUtc() };
    MeetingChatService chat;
};

Figures streamedPieces(const QString& answer, qsizetype shown)
{
    SteppedProvider provider;
    BenchChat bench(provider.url());
    Settings& settings = bench.settings;
    Meeting& meeting = bench.meeting;
    MeetingChatService& chat = bench.chat;
    QWidget window;
    window.resize(1120, 740);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* panel = new MeetingChatPanel(meeting, chat, ModelContextBox {}, settings, nullptr);
    layout->addWidget(panel);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    chat.ask(QStringLiteral("What did we decide?"), &meeting, ModelContextBox {});
    (void)QTest::qWaitFor([&] { return provider.connected(); }, 10000);
    const auto deliver = [&](const QString& piece) {
        const qsizetype expected = chat.streamingAnswer().size() + piece.size();
        provider.send(piece);
        (void)QTest::qWaitFor([&] { return chat.streamingAnswer().size() >= expected; }, 60000);
        settle(window);
    };
    deliver(answer.left(shown));
    // The rows past the first screenful are made between events: the pieces are timed once
    // they are all there, when turns of the loop cost next to nothing again.
    QElapsedTimer draining;
    draining.start();
    for (int quiet = 0; quiet < 3 && draining.elapsed() < 60000;) {
        const double before = threadCpuMs();
        settle(window);
        quiet = threadCpuMs() - before < 2 ? quiet + 1 : 0;
    }
    QList<double> pieces;
    for (qsizetype at = shown; at + 100 <= answer.size() && pieces.size() < 30; at += 100) {
        const double before = threadCpuMs();
        deliver(answer.mid(at, 100));
        pieces.append(threadCpuMs() - before);
    }
    chat.cancel();
    return summarise(pieces);
}

void benchStreamedAnswers()
{
    // Plain lines as a model writes them, with a heading every few lines.
    QRandomGenerator random(9);
    QString answer;
    for (int i = 0; answer.size() < 210 * 1024; ++i)
        answer += (i % 12 == 0 ? QStringLiteral("## Part %1").arg(i / 12 + 1) : sentence(random)) + QLatin1Char('\n');
    for (const qsizetype kb : { 10, 50, 200 }) {
        const Figures figures = streamedPieces(answer, kb * 1024);
        std::printf("a multi-line answer streamed into the chat panel at %lld KB: median %.1f ms a 100-character "
                    "piece, p95 %.1f, max %.1f (target: under 16 ms, flat)\n",
            qlonglong(kb), figures.median, figures.p95, figures.max);
    }
    for (const qsizetype kb : { 10, 100 }) {
        const Figures brackets = streamedPieces(QString((kb + 10) * 1024, QLatin1Char('[')), kb * 1024);
        std::printf("one line of \"[\" streamed into the chat panel at %lld KB: median %.1f ms a 100-character "
                    "piece, p95 %.1f, max %.1f (target: under 16 ms, flat)\n",
            qlonglong(kb), brackets.median, brackets.p95, brackets.max);
    }
}

// One paragraph of 200 KB, as a long answer written without a line break streams in, grown
// 1 KB at a time in a 1120 × 740 window; each piece is laid out and painted before the next.
void benchGrowingLine(const QString& line, const char* what)
{
    QWidget window;
    window.resize(1120, 740);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    layout->addWidget(scroll);
    auto* view = new SummaryMarkdown(nullptr);
    scroll->setWidget(view);
    window.show();
    settle(window);

    // The processor time of each piece, which a busy machine does not inflate as it does the
    // time on the clock.
    QList<double> pieces;
    const double start = processCpuSeconds();
    for (qsizetype at = 0; at < line.size(); at += 1024) {
        const double before = processCpuSeconds();
        view->appendMarkdown(QStringView(line).mid(at, 1024));
        settle(window);
        pieces.append((processCpuSeconds() - before) * 1000);
    }
    const double all = (processCpuSeconds() - start) * 1000;
    // A piece costs what it adds, however long the line has grown: the last pieces take about
    // as long as the first.
    std::printf("a 200 KB line %s grown 1 KB at a time: %.0f ms of CPU in all, longest piece %.1f ms; median of "
                "the first 20 pieces %.2f ms, of the last 20 %.2f ms (target: 15 ms a piece, the last no slower "
                "than the first)\n",
        what, all, summarise(pieces).max, summarise(pieces.first(20)).median, summarise(pieces.last(20)).median);
    // Reading the line's markup alone: as it grows, and read whole at every piece.
    double growing = processCpuSeconds();
    InlineRuns runs(line.left(1024));
    for (qsizetype at = 1024; at < line.size(); at += 1024)
        runs.append(QStringView(line).mid(at, 1024));
    growing = (processCpuSeconds() - growing) * 1000;
    double whole = processCpuSeconds();
    for (qsizetype at = 1024; at < line.size(); at += 1024)
        InlineRun::parse(line.left(at + 1024));
    whole = (processCpuSeconds() - whole) * 1000;
    std::printf("  its markup read as it grows: %.1f ms of CPU in all (target: 50 ms; read whole at every piece: "
                "%.0f ms)\n",
        growing, whole);
}

void benchGrowingLines()
{
    QRandomGenerator random(5);
    QString line;
    for (int i = 0; line.size() < 200 * 1024; ++i) {
        switch (i % 6) {
        case 0:
            line += QStringLiteral("**") + sentence(random) + QStringLiteral("** ");
            break;
        case 1:
            line += sentence(random) + QStringLiteral(" See [the notes](https://notes.test/a) and `run.sh`. ");
            break;
        default:
            line += sentence(random) + QLatin1Char(' ');
        }
    }
    benchGrowingLine(line, "of mixed markup");
    // A marker at its start that nothing closes: every piece asks whether the new text does.
    benchGrowingLine(QLatin1Char('*') + line.chopped(1), "after a lone \"*\"");
}

void benchLongText()
{
    {
        AppRig rig;
        auto* meeting = new Meeting(QStringLiteral("All-day workshop"), QDateTime::currentDateTimeUtc());
        meeting->setSummary(modelText(2000));
        rig->store().insert(meeting);
        rig->store().save();
        const double first = openToFirstPaint(*rig, meeting->id(), false);
        const double again = openToFirstPaint(*rig, meeting->id(), false);
        std::printf("a summary of 2,000 lines opened to the first paint: %.1f ms, again %.1f ms (target: 100 ms)\n",
            first, again);
    }
    std::printf("1 MB of \"[\" to the first paint: %.1f ms (target: 200 ms)\n",
        showToFirstPaint(QString(1024 * 1024, QLatin1Char('['))));
    std::printf("1 MB of \"*a \" to the first paint: %.1f ms (target: 200 ms)\n",
        showToFirstPaint(QStringLiteral("*a ").repeated(1024 * 1024 / 3)));

    // A 500-line answer, cut into pieces of about a dozen characters as a model streams it.
    const QString answer = modelText(500);
    QStringList pieces;
    for (qsizetype at = 0; at < answer.size(); at += 12)
        pieces.append(answer.mid(at, 12));
    StreamingProvider provider(pieces);
    BenchChat bench(provider.url());
    Settings& settings = bench.settings;
    Meeting& meeting = bench.meeting;
    MeetingChatService& chat = bench.chat;
    MeetingChatPanel panel(meeting, chat, ModelContextBox {}, settings, nullptr);
    panel.resize(420, 740);
    panel.show();
    (void)QTest::qWaitForWindowExposed(&panel);

    // The longest turn of the event loop: the gap between two firings of a timer that asks to
    // run as often as it can.
    double longest = 0;
    QElapsedTimer turn;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.callOnTimeout([&] {
        longest = std::max(longest, msSince(turn));
        turn.start();
    });
    QElapsedTimer whole;
    whole.start();
    chat.ask(QStringLiteral("What did we decide?"), &meeting, ModelContextBox {});
    turn.start();
    probe.start(0);
    QEventLoop loop;
    QObject::connect(&chat, &MeetingChatService::isAnsweringChanged, &loop, [&] {
        if (!chat.isAnswering())
            loop.quit();
    });
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    probe.stop();
    const bool stored = meeting.chatMessages().size() == 2;
    std::printf("a 500-line answer streamed into the chat panel in %lld pieces: longest main-thread turn %.1f ms "
                "(target: 50 ms), %.0f ms in all, %s\n",
        qlonglong(pieces.size()), longest, msSince(whole), stored ? "stored" : "NOT stored");
    benchGrowingLines();
    benchStreamedAnswers();
}

void benchReading()
{
    constexpr int kTurns = 400;
    AccessibleTree::EventSpy screenReader; // accessibility on, as while a screen reader runs
    Meeting meeting(QStringLiteral("Review"), QDateTime::currentDateTimeUtc());
    for (int i = 0; i < kTurns; ++i)
        meeting.appendSegment(
            new TranscriptSegment(QStringLiteral("Turn %1 of the review, about item %2.").arg(i).arg(i % 7),
                i % 2 ? Speaker::them() : Speaker::me(), i * 5.0));
    TranscriptFeedView feed(&meeting, false, false, QString());
    feed.resize(700, 500);
    feed.show();
    feed.activateWindow();
    settle(feed);
    feed.setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&feed);
    const int rows = list->childCount();
    QList<double> reviews;
    for (int pass = 0; pass < 10; ++pass) {
        QElapsedTimer timer;
        timer.start();
        for (int row = 0; row < rows; ++row) {
            QAccessibleInterface* item = list->child(row);
            (void)item->text(QAccessible::Name);
            (void)item->role();
            (void)item->state();
            (void)item->rect();
            (void)list->indexOfChild(item);
        }
        reviews.append(msSince(timer));
    }
    QList<double> steps;
    for (const Qt::Key key : { Qt::Key_End, Qt::Key_Home }) {
        for (int step = 0; step < 20; ++step) {
            QElapsedTimer timer;
            timer.start();
            QTest::keyClick(&feed, step == 0 ? key : key == Qt::Key_End ? Qt::Key_Up : Qt::Key_Down);
            QAccessibleInterface* focused = list->focusChild();
            (void)(focused ? focused->text(QAccessible::Name) : QString());
            for (int row = 0, rows = list->childCount(); row < rows; ++row) {
                if (list->child(row)->state().focused)
                    break;
            }
            QCoreApplication::processEvents();
            steps.append(msSince(timer));
        }
    }
    const Figures review = summarise(reviews);
    const Figures step = summarise(steps);
    std::printf("a screen reader's review of %d rows: median %.1f ms, max %.1f ms; a step of the keyboard's row "
                "with its questions: median %.2f ms, max %.2f ms (target: 200 ms with the screen reader)\n",
        rows, review.median, review.max, step.median, step.max);
}

} // namespace

int main(int argc, char* argv[])
{
    TestSupport::isolateHome();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({ QStringLiteral("segments"), QStringLiteral("Segments to append."), QStringLiteral("N"),
        QStringLiteral("10000") });
    parser.addOption({ QStringLiteral("open-segments"), QStringLiteral("Segments of the meetings opened."),
        QStringLiteral("M"), QStringLiteral("5000") });
    parser.addOption({ QStringLiteral("cpu-seconds"), QStringLiteral("Seconds of each CPU measurement (0: none)."),
        QStringLiteral("S"), QStringLiteral("0") });
    parser.addOption({ QStringLiteral("long-text-only"), QStringLiteral("Only the long model text figures.") });
    parser.addOption({ QStringLiteral("stream-only"), QStringLiteral("Only the streamed answer figures.") });
    parser.addOption({ QStringLiteral("typing-only"), QStringLiteral("Only the typing figures.") });
    parser.addOption({ QStringLiteral("reading-only"), QStringLiteral("Only a screen reader's figures.") });
    parser.addOption({ QStringLiteral("library"), QStringLiteral("Meetings of the library typed in."),
        QStringLiteral("N"), QStringLiteral("10000") });
    parser.process(app);
    if (parser.isSet(QStringLiteral("reading-only"))) {
        benchReading();
        return 0;
    }
    if (parser.isSet(QStringLiteral("typing-only"))) {
        benchTyping(parser.value(QStringLiteral("library")).toInt());
        return 0;
    }
    if (parser.isSet(QStringLiteral("stream-only"))) {
        benchStreamedAnswers();
        return 0;
    }
    benchLongText();
    if (parser.isSet(QStringLiteral("long-text-only")))
        return 0;
    benchOpening(parser.value(QStringLiteral("open-segments")).toInt());
    if (const int seconds = parser.value(QStringLiteral("cpu-seconds")).toInt(); seconds > 0) {
        benchCpu(seconds);
        return 0;
    }
    benchAppending(parser.value(QStringLiteral("segments")).toInt());
    return 0;
}
