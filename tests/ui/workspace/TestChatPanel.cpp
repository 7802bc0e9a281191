#include "chat/MeetingChatService.h"
#include "platform/Settings.h"
#include "storage/ChatMessage.h"
#include "storage/Meeting.h"
#include "storage/TranscriptSegment.h"
#include "support/AccessibleNames.h"
#include "support/AccessibleTree.h"
#include "support/FakeHttpServer.h"
#include "support/ProviderAnswers.h"
#include "support/TestMain.h"
#include "ui/design/ReadingColumn.h"
#include "ui/workspace/MeetingChatPanel.h"
#include "ui/workspace/SummaryMarkdown.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QTemporaryDir>

namespace {

const QByteArray kPath = "/v1/chat/completions";

using ProviderAnswers::streamed;
using ProviderAnswers::streamEvent;

// Texts of the labels that are on screen, in no particular order.
QStringList shownTexts(const QWidget& root)
{
    QStringList texts;
    for (const QLabel* label : root.findChildren<QLabel*>()) {
        if (label->isVisible() && !label->text().isEmpty())
            texts << label->text();
    }
    return texts;
}

} // namespace

class TestChatPanel final : public QObject
{
    Q_OBJECT

private:
    struct Fixture
    {
        explicit Fixture(const QString& settingsFile)
            : settings(settingsFile)
            , meeting(QStringLiteral("Budget review"), QDateTime::currentDateTimeUtc())
            , chat(
                  [this]() -> std::optional<ModelCredentials> {
                      if (!signedIn)
                          return std::nullopt;
                      return ModelCredentials { server.url(), QStringLiteral("tq-panel") };
                  },
                  settings)
        {
            meeting.appendSegment(new TranscriptSegment(QStringLiteral("We ship on Friday."), Speaker::them(), 1));
            panel = std::make_unique<MeetingChatPanel>(
                meeting, chat, ModelContextBox { [this] { ++saves; } }, settings, nullptr);
            panel->resize(700, 420);
            panel->show();
        }

        void type(const QString& text)
        {
            panel->questionField()->setFocus();
            panel->setDraft(text);
        }

        void pressReturn() { QTest::keyClick(panel->questionField(), Qt::Key_Return); }

        QStringList stored() const
        {
            QStringList list;
            for (const ChatMessage* message : meeting.sortedChatMessages())
                list << message->roleRaw() + QLatin1Char(':') + message->text();
            return list;
        }

        FakeHttpServer server;
        bool signedIn = true;
        Settings settings;
        Meeting meeting;
        MeetingChatService chat;
        int saves = 0;
        std::unique_ptr<MeetingChatPanel> panel;
    };

    QString settingsFile() const { return m_dir.filePath(QString::fromLatin1(QTest::currentTestFunction()) + ".ini"); }

    QTemporaryDir m_dir;

private slots:
    void emptyStateFollowsRecording_data()
    {
        QTest::addColumn<bool>("recording");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<QString>("placeholder");
        QTest::newRow("recording")
            << true << "Ask about what's being said"
            << "It reads the transcript again for every question, so “what did they just say?” works."
            << "Ask anything about this meeting…";
        QTest::newRow("finished") << false << "Ask about this meeting"
                                  << "Answers come only from the transcript and your notes."
                                  << "Ask anything…";
    }

    void emptyStateFollowsRecording()
    {
        QFETCH(bool, recording);
        QFETCH(QString, title);
        QFETCH(QString, hint);
        QFETCH(QString, placeholder);
        Fixture fixture(settingsFile());
        fixture.meeting.setIsRecording(!recording);
        fixture.meeting.setIsRecording(recording);
        QVERIFY(shownTexts(*fixture.panel).contains(title));
        QVERIFY(shownTexts(*fixture.panel).contains(hint));
        QCOMPARE(fixture.panel->questionField()->placeholderText(), placeholder);
        // The prompt is the field's name too, and every control of the panel has one.
        QCOMPARE(QAccessible::queryAccessibleInterface(fixture.panel->questionField())->text(QAccessible::Name),
            placeholder);
        QUILLET_VERIFY_ALL_NAMED(*fixture.panel);
    }

    // A screen reader reads the conversation as a list with one item per message, who wrote it
    // and the text, in the order shown; the empty state while there is none. Tab reaches it
    // before the question, and its keys move the message read.
    void screenReaderReadsTheConversation()
    {
        AccessibleTree::EventSpy told;
        Fixture fixture(settingsFile());
        QAccessibleInterface* list = AccessibleTree::of(fixture.panel->messageList());
        QCOMPARE(list->role(), QAccessible::List);
        QCOMPARE(AccessibleTree::name(list), QStringLiteral("Conversation"));
        QCOMPARE(AccessibleTree::names(AccessibleTree::items(list)), QStringList { "Ask about this meeting" });

        fixture.meeting.appendChatMessage(new ChatMessage(ChatRole::User, QStringLiteral("When do we ship?"), {}));
        fixture.meeting.appendChatMessage(new ChatMessage(ChatRole::Assistant,
            QStringLiteral("## When\nOn **Friday**, [see](https://example.com)."), QStringLiteral("m")));
        QCoreApplication::processEvents();
        const QList<QAccessibleInterface*> rows = AccessibleTree::items(list);
        QCOMPARE(
            AccessibleTree::names(rows), (QStringList { "You: When do we ship?", "Quillet: When\nOn Friday, see." }));
        for (const QAccessibleInterface* row : rows) {
            QCOMPARE(row->role(), QAccessible::ListItem);
            QCOMPARE(row->parent(), list);
        }
        QCOMPARE(list->indexOfChild(rows.at(1)), 1);
        // The answer's own text, links and all, is under its item.
        QVERIFY(AccessibleTree::find(rows.at(1), QAccessible::Heading, QStringLiteral("When")));

        fixture.panel->resize(500, 400);
        fixture.panel->show();
        fixture.panel->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(fixture.panel.get()));
        fixture.panel->questionField()->setFocus(Qt::TabFocusReason);
        QTest::keyClick(fixture.panel->questionField(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), fixture.panel->messageList());
        for (const auto& [key, read] : { std::pair(Qt::Key_Down, 1), std::pair(Qt::Key_Home, 0),
                 std::pair(Qt::Key_Up, 0), std::pair(Qt::Key_End, 1), std::pair(Qt::Key_PageUp, 0) }) {
            QTest::keyClick(fixture.panel->messageList(), key);
            QTRY_COMPARE(told.lastFocus(), AccessibleTree::name(rows.at(read)));
            QVERIFY(rows.at(read)->state().focused);
            QVERIFY(!rows.at(1 - read)->state().focused);
        }

        // A message removed goes from the list at once.
        delete fixture.meeting.sortedChatMessages().first();
        QCoreApplication::processEvents();
        QCOMPARE(AccessibleTree::names(AccessibleTree::items(list)), QStringList { "Quillet: When\nOn Friday, see." });
    }

    void answerStreamsThenIsStored()
    {
        Fixture fixture(settingsFile());
        fixture.server.on(
            "POST", kPath, streamed({ streamEvent("**Friday**, "), streamEvent("after review."), "data: [DONE]\n\n" }));
        fixture.server.hold("POST", kPath);
        QStringList streamedShown;
        QStringList streamedRead;
        QAccessibleInterface* list = AccessibleTree::of(fixture.panel->messageList());
        const auto lastRead = [&] { return AccessibleTree::names(AccessibleTree::items(list)).last(); };
        connect(&fixture.chat, &MeetingChatService::streamingAnswerChanged, this, [&] {
            const auto* answer = fixture.panel->findChild<SummaryMarkdown*>();
            if (!fixture.chat.streamingAnswer().isEmpty() && answer && answer->isVisibleTo(fixture.panel.get())) {
                streamedShown << answer->markdown();
                streamedRead << lastRead();
            }
        });

        AccessibleTree::EventSpy events;
        fixture.type(QStringLiteral("  When do we ship?\n"));
        fixture.pressReturn();
        QCOMPARE(fixture.panel->draft(), QString());
        QTRY_COMPARE(fixture.server.heldCount(), 1);
        QVERIFY(shownTexts(*fixture.panel).contains(QStringLiteral("Thinking…")));
        QCOMPARE(lastRead(), QStringLiteral("Quillet: Thinking…"));
        QVERIFY(!shownTexts(*fixture.panel).contains(QStringLiteral("Ask about this meeting")));
        QVERIFY(fixture.panel->stopButton()->isVisible());
        QVERIFY(!fixture.panel->sendButton()->isVisible());

        fixture.server.release("POST", kPath);
        QTRY_VERIFY(!fixture.chat.isAnswering());
        QCOMPARE(streamedShown, QStringList({ "**Friday**, ", "**Friday**, after review." }));
        QCOMPARE(streamedRead, QStringList({ "Quillet: Friday,", "Quillet: Friday, after review." }));
        QCOMPARE(fixture.stored(), QStringList({ "user:When do we ship?", "assistant:**Friday**, after review." }));
        QVERIFY(!shownTexts(*fixture.panel).contains(QStringLiteral("Thinking…")));
        QVERIFY(shownTexts(*fixture.panel).contains(QStringLiteral("When do we ship?")));
        QVERIFY(fixture.panel->sendButton()->isVisible());
        QCOMPARE(fixture.saves, 2);
        // The finished answer is said once, as the list reads it; its pieces never were.
        QTRY_COMPARE(events.announcements(), QStringList { QStringLiteral("Quillet: Friday, after review.") });
    }

    void stopStoresNoAnswer()
    {
        Fixture fixture(settingsFile());
        fixture.server.on("POST", kPath, streamed({ streamEvent("never shown"), "data: [DONE]\n\n" }));
        fixture.server.hold("POST", kPath);
        // A check that fails on the way lets the held request go, so the test ends.
        const auto release = qScopeGuard([&] { fixture.server.release("POST", kPath); });
        fixture.panel->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(fixture.panel.get()));
        fixture.type(QStringLiteral("Summarise"));
        // Send and Stop take each other's place with the keyboard on them.
        fixture.panel->sendButton()->setFocus(Qt::TabFocusReason);
        QTest::keyClick(fixture.panel->sendButton(), Qt::Key_Space);
        QCOMPARE(QApplication::focusWidget(), fixture.panel->stopButton());
        QTRY_COMPARE(fixture.server.heldCount(), 1);
        QCOMPARE(fixture.panel->stopButton()->toolTip(), QStringLiteral("Stop"));

        // Return while the answer runs sends nothing and keeps the text.
        fixture.type(QStringLiteral("And the budget?"));
        fixture.pressReturn();
        QCOMPARE(fixture.panel->draft(), QStringLiteral("And the budget?"));

        fixture.panel->stopButton()->setFocus(Qt::TabFocusReason);
        QTest::keyClick(fixture.panel->stopButton(), Qt::Key_Space);
        QVERIFY(!fixture.chat.isAnswering());
        QCOMPARE(QApplication::focusWidget(), fixture.panel->questionField());
        fixture.server.release("POST", kPath);
        QCoreApplication::processEvents(); // the cancelled request has no answer to deliver
        QCOMPARE(fixture.stored(), QStringList { "user:Summarise" });
        QVERIFY(fixture.panel->sendButton()->isVisible());
    }

    void blankQuestionsDoNothing_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("sendEnabled");
        QTest::newRow("spaces and tabs") << " \t " << false;
        QTest::newRow("line breaks") << " \n\n " << true; // the button tests spaces and tabs only
        QTest::newRow("nothing") << "" << false;
    }

    void blankQuestionsDoNothing()
    {
        QFETCH(QString, typed);
        QFETCH(bool, sendEnabled);
        Fixture fixture(settingsFile());
        fixture.type(typed);
        QCOMPARE(fixture.panel->sendButton()->isEnabled(), sendEnabled);
        fixture.pressReturn();
        fixture.panel->send();
        QCOMPARE(fixture.panel->draft(), typed);
        QVERIFY(!fixture.chat.isAnswering());
        QVERIFY(fixture.stored().isEmpty());
    }

    void pickerRowsAndChoice()
    {
        Fixture fixture(settingsFile());
        QCOMPARE(fixture.panel->pickerButton()->toolTip(), QStringLiteral("Which model answers"));
        QCOMPARE(fixture.panel->pickerLabel(), QStringLiteral("Auto"));
        const QList<MeetingChatPanel::PickerRow> rows = fixture.panel->pickerRows();
        QStringList texts;
        for (const auto& row : rows)
            texts << (row.checked ? "✓ " : "") + row.text;
        QCOMPARE(texts,
            QStringList({ "✓ Auto — Recommended", "DeepSeek V4 Flash — Fastest", "GPT-5.6 Luna — Fast",
                "Kimi K2.6 — Fast, open weight", "Gemini 3.6 Flash — Long meetings",
                "Claude Opus 5 — Slowest, deepest" }));

        fixture.panel->pick(QStringLiteral("kimi-k2.6"));
        QCOMPARE(fixture.settings.get(SettingsKeys::chatModel), QStringLiteral("kimi-k2.6"));
        QCOMPARE(fixture.panel->pickerLabel(), QStringLiteral("Kimi K2.6"));
        QVERIFY(fixture.panel->pickerRows().at(3).checked);

        // The next question is asked with it.
        fixture.server.on("POST", kPath, streamed({ streamEvent("ok"), "data: [DONE]\n\n" }));
        fixture.type(QStringLiteral("Q"));
        fixture.pressReturn();
        QTRY_VERIFY(!fixture.chat.isAnswering());
        QCOMPARE(fixture.server.requests().first().json().value("model").toString(), QStringLiteral("kimi-k2.6"));

        // A stored model that no longer exists reads as Auto, and no row is checked.
        fixture.settings.set(SettingsKeys::chatModel, QStringLiteral("retired-model"));
        QCOMPARE(fixture.panel->pickerLabel(), QStringLiteral("Auto"));
        for (const auto& row : fixture.panel->pickerRows())
            QVERIFY(!row.checked);
    }

    void errorShowsUntilTheNextQuestion()
    {
        Fixture fixture(settingsFile());
        fixture.signedIn = false;
        AccessibleTree::EventSpy events;
        fixture.type(QStringLiteral("Anything?"));
        fixture.pressReturn();
        const QString message
            = QStringLiteral("Sign in to ask about your meetings — or add your own Tessra key in Settings");
        QVERIFY(shownTexts(*fixture.panel).contains(message));
        QTRY_COMPARE(events.announcements(), QStringList { message });
        // Read as an alert where it shows.
        QCOMPARE(AccessibleNames::find(*fixture.panel, message)->role(), QAccessible::AlertMessage);

        fixture.signedIn = true;
        fixture.server.on("POST", kPath, streamed({ streamEvent("Yes."), "data: [DONE]\n\n" }));
        fixture.type(QStringLiteral("Anything now?"));
        fixture.pressReturn();
        QVERIFY(!shownTexts(*fixture.panel).contains(message));
        QTRY_VERIFY(!fixture.chat.isAnswering());
        QCOMPARE(fixture.stored(), QStringList({ "user:Anything now?", "assistant:Yes." }));
    }
};

QUILLET_WIDGET_TEST_MAIN(TestChatPanel)
#include "TestChatPanel.moc"
