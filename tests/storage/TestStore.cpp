#include "platform/Log.h"
#include "storage/ChatMessage.h"
#include "storage/Folder.h"
#include "storage/FolderListModel.h"
#include "storage/Meeting.h"
#include "storage/MeetingListModel.h"
#include "storage/ModelContext.h"
#include "storage/SaveHealth.h"
#include "storage/Speaker.h"
#include "storage/StoreDatabase.h"
#include "storage/TranscriptSegment.h"
#include "support/DatabaseWriteWatch.h"
#include "support/FakeScheduler.h"
#include "support/FullDisk.h"
#include "support/TempStore.h"
#include "support/TestMain.h"

#include <QAbstractItemModelTester>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QMetaMethod>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtEndian>
#include <map>
#include <memory>

namespace {

const QDateTime kMonday(QDate(2026, 3, 9), QTime(10, 0), Qt::UTC);

QDateTime at(int day, int hour = 10)
{
    return QDateTime(QDate(2026, 3, day), QTime(hour, 0), Qt::UTC);
}

void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// "Speaker|timestamp|text" per segment, in the order the store lists them.
Meeting* meetingWithTranscript(const QStringList& turns)
{
    auto* meeting = new Meeting(QStringLiteral("t"), kMonday);
    for (const QString& turn : turns) {
        const QStringList parts = turn.split(QLatin1Char('|'));
        auto* segment = new TranscriptSegment(parts.value(2), Speaker::me(), parts.value(1).toDouble());
        segment->setSpeakerRaw(parts.value(0));
        meeting->appendSegment(segment);
    }
    return meeting;
}

// A meeting with everything it owns, as stored fields, to compare before and after a reopen.
struct StoredMeeting
{
    Meeting::Fields fields;
    std::optional<Folder::Fields> folder;
    QList<TranscriptSegment::Fields> segments;
    QList<ChatMessage::Fields> messages;
    bool operator==(const StoredMeeting&) const = default;
};

StoredMeeting storedMeeting(const Meeting& meeting)
{
    StoredMeeting stored { meeting.fields(), std::nullopt, {}, {} };
    if (meeting.folder())
        stored.folder = meeting.folder()->fields();
    for (const TranscriptSegment* segment : meeting.segments())
        stored.segments.append(segment->fields());
    for (const ChatMessage* message : meeting.chatMessages())
        stored.messages.append(message->fields());
    return stored;
}

bool execOn(const QString& path, const QStringList& statements)
{
    const QString name = QStringLiteral("test-raw-") + QUuid::createUuid().toString();
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        ok = db.open();
        for (const QString& sql : statements) {
            QSqlQuery query(db);
            if (ok && !query.exec(sql)) {
                qWarning() << sql << query.lastError().text();
                ok = false;
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

// The first column of the first row of a query on the file, through a connection of its own.
QVariant valueOn(const QString& path, const QString& sql)
{
    const QString name = QStringLiteral("test-value-") + QUuid::createUuid().toString();
    QVariant value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        QSqlQuery query(db);
        if (db.open() && query.exec(sql) && query.next())
            value = query.value(0);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return value;
}

QString units(const QString& text)
{
    QStringList hex;
    for (const QChar unit : text)
        hex.append(QString::number(unit.unicode(), 16));
    return hex.join(QLatin1Char(' '));
}

// A spy on each change signal of a record, by name.
std::map<QByteArray, std::unique_ptr<QSignalSpy>> spyOnChanges(const QObject* record)
{
    std::map<QByteArray, std::unique_ptr<QSignalSpy>> spies;
    const QMetaObject* meta = record->metaObject();
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.methodType() == QMetaMethod::Signal && method.name().endsWith("Changed"))
            spies.emplace(method.name(), std::make_unique<QSignalSpy>(record, method));
    }
    return spies;
}

} // namespace

class TestStore final : public QObject
{
    Q_OBJECT

private slots:
    // Records and their computed values
    void formattedTranscript_data();
    void formattedTranscript();
    void notesAndAITitle_data();
    void notesAndAITitle();

    // Persistence
    void savedFieldsSurviveReopenUnsavedDoNot();
    void textsComeBackAsGiven_data();
    void textsComeBackAsGiven();
    void editedSavedChildrenSurviveReopen_data();
    void editedSavedChildrenSurviveReopen();
    void rollbackRestoresSavedState();
    void rollbackNotifiesEveryChangedField();
    void deletingMeetingCascades();
    void foldersFileAndUnfileMeetings();
    void sharedObjectPerRow();
    void duplicateIdsDoNotBreakSave();
    void failedSaveWritesNothingAndKeepsChanges();
    void fullDiskSaveIsRetriedUntilItGoesThrough_data();
    void fullDiskSaveIsRetriedUntilItGoesThrough();
    void olderFileReadsDefaults();
    void unusableFileFailsWithItsReason_data();
    void unusableFileFailsWithItsReason();
    void fetchFiltersSortsAndLimits_data();
    void fetchFiltersSortsAndLimits();

    // Live lists
    void meetingListFollowsChanges();
    void folderListFollowsChanges();
    void listMadeDuringARemovalLacksTheRecord();

    // Commits on its own
    void changesOfOneTurnCommitTogether();
    void checkpointsStayOffTheMainThread();

    // Processes
    void savedChangeSurvivesKill();
};

void TestStore::formattedTranscript_data()
{
    QTest::addColumn<QStringList>("turns");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no segments") << QStringList() << "";
    QTest::newRow("me me them me") << QStringList { "Me|0|Hello", "Me|2|there.", "Them|5|Hi!", "Me|9|Shall we?" }
                                   << "Speaker A: Hello there.\nSpeaker B: Hi!\nSpeaker A: Shall we?";
    QTest::newRow("stored out of time order") << QStringList { "Them|5|second", "Me|1|first", "Me|9|third" }
                                              << "Speaker A: first\nSpeaker B: second\nSpeaker A: third";
    QTest::newRow("equal timestamps keep stored order")
        << QStringList { "Me|3|b", "Them|3|c", "Me|1|a" } << "Speaker A: a b\nSpeaker B: c";
    QTest::newRow("empty speaker is me") << QStringList { "Me|0|one", "|1|two", "Them|2|three" }
                                         << "Speaker A: one two\nSpeaker B: three";
    QTest::newRow("same name merges, case differs splits")
        << QStringList { "Ana|0|x", "Ana|1|y", "ana|2|z" } << "Ana: x y\nana: z";
    QTest::newRow("only exact Me and Them are ours")
        << QStringList { "me|0|a", " Me|1|b", "THEM|2|c", "Me|3|d" } << "me: a\n Me: b\nTHEM: c\nSpeaker A: d";
    QTest::newRow("empty text keeps its space") << QStringList { "Me|0|a", "Me|1|", "Me|2|b" } << "Speaker A: a  b";
    QTest::newRow("text kept as stored") << QStringList { "Them|0| padded \nline " } << "Speaker B:  padded \nline ";
}

void TestStore::formattedTranscript()
{
    QFETCH(QStringList, turns);
    QFETCH(QString, expected);

    std::unique_ptr<Meeting> meeting(meetingWithTranscript(turns));
    QCOMPARE(meeting->formattedTranscript(), expected);

    // The same transcript read back from the file, where the store decides the listed order.
    TempStore store;
    store->insert(meetingWithTranscript(turns));
    QVERIFY(store->save().ok());
    QCOMPARE(store.reopen().fetchMeetings().value(0)->formattedTranscript(), expected);
}

void TestStore::notesAndAITitle_data()
{
    QTest::addColumn<QString>("notes");
    QTest::addColumn<bool>("hasNotes");
    QTest::addColumn<bool>("titleEdited");
    QTest::addColumn<bool>("linked");
    QTest::addColumn<bool>("allowsAITitle");

    QTest::newRow("empty") << "" << false << false << false << true;
    QTest::newRow("blank lines") << " \n\t \r\n" << false << false << true << false;
    QTest::newRow("line separators") << QString(QChar(0x2028)) + QChar(0x2029) + QChar(0x00A0) << false << true << false
                                     << false;
    QTest::newRow("a dot") << "\n.\n" << true << true << true << false;
}

void TestStore::notesAndAITitle()
{
    QFETCH(QString, notes);
    QFETCH(bool, hasNotes);
    QFETCH(bool, titleEdited);
    QFETCH(bool, linked);
    QFETCH(bool, allowsAITitle);

    Meeting meeting(QStringLiteral("x"), kMonday);
    meeting.setUserNotes(notes);
    meeting.setTitleIsUserEdited(titleEdited);
    if (linked)
        meeting.setCalendarEventId(QStringLiteral("evt-1"));
    QCOMPARE(meeting.hasUserNotes(), hasNotes);
    QCOMPARE(meeting.allowsAITitle(), allowsAITitle);
}

void TestStore::savedFieldsSurviveReopenUnsavedDoNot()
{
    // Text that has broken stores before: quotes, SQL, newlines, emoji, a NUL, and a lot of it.
    const QString awkward
        = QStringLiteral("It's \"quoted\"; DROP TABLE Meeting; --\r\nline\ttab 🎙️👩🏽‍💻 ") + QChar(0)
        + QStringLiteral(" end");
    const QString huge = awkward + QString(100 * 1024, QLatin1Char('x')) + QStringLiteral("é");

    TempStore store;
    auto* folder = new Folder(awkward, QStringLiteral("star"), QStringLiteral("detail\nline"));
    folder->setCreatedAt(at(1, 8));
    store->insert(folder);
    auto* meeting = new Meeting(huge, QDateTime(QDate(2026, 3, 9), QTime(10, 15, 30, 123), Qt::UTC));
    meeting->setSummary(awkward);
    meeting->setUserNotes(QStringLiteral("notes ") + awkward);
    meeting->setDuration(3725.125);
    meeting->setIsRecording(true);
    meeting->setCalendarEventId(QStringLiteral("evt/42"));
    meeting->setAttendeeNames({ QStringLiteral("Ana \"A\""), QString(), QStringLiteral("Bo, [x]") });
    meeting->setOrganizer(QString()); // present but empty is not absent
    meeting->setCalendarName(QStringLiteral("Work"));
    meeting->setScheduledStart(at(9, 9));
    meeting->setScheduledEnd(at(9, 11));
    meeting->setSource(QStringLiteral("calendar"));
    meeting->setTitleIsUserEdited(true);
    meeting->setAutoStartEnabled(true);
    meeting->setAutoStartFired(true);
    meeting->setLinkBannerDismissed(true);
    meeting->setFolder(folder);
    auto* segment = new TranscriptSegment(awkward, Speaker::other(QStringLiteral("Dana")), 12.75);
    segment->setIsFinal(true);
    meeting->appendSegment(segment);
    auto* message = new ChatMessage(ChatRole::Assistant, huge, QStringLiteral("fast"));
    message->setCreatedAt(QDateTime(QDate(2026, 3, 9), QTime(11, 0, 0, 7), Qt::UTC));
    meeting->appendChatMessage(message);
    store->insert(meeting);

    // Every field at its default, in each kind of record.
    auto* plain = new Meeting(QString(), kMonday);
    plain->appendSegment(new TranscriptSegment(QString(), Speaker::them(), 0));
    plain->appendChatMessage(new ChatMessage(ChatRole::User, QString(), std::nullopt));
    store->insert(plain);
    store->insert(new Folder(QString(), QStringLiteral("folder"), QString()));

    const StoredMeeting full = storedMeeting(*meeting);
    const StoredMeeting defaults = storedMeeting(*plain);
    QVERIFY(store->save().ok());
    QVERIFY(!store->hasChanges());

    // Changes after the save are gone after reopening.
    plain->setTitle(QStringLiteral("unsaved"));
    plain->appendSegment(new TranscriptSegment(QStringLiteral("unsaved"), Speaker::me(), 2));
    meeting->chatMessages().first()->setText(QStringLiteral("unsaved"));
    store->insert(new Meeting(QStringLiteral("unsaved"), kMonday));
    store->insert(new Folder(QStringLiteral("unsaved"), QStringLiteral("folder"), QString()));
    QVERIFY(store->hasChanges());

    ModelContext& reopened = store.reopen();
    QCOMPARE(reopened.meetingCount(), 2);
    QCOMPARE(reopened.fetchFolders().size(), 2);
    Meeting* read = reopened.meetingById(full.fields.id);
    Meeting* readPlain = reopened.meetingById(defaults.fields.id);
    QVERIFY(read && readPlain);
    QVERIFY(storedMeeting(*read) == full);
    QVERIFY(storedMeeting(*readPlain) == defaults);
    QCOMPARE(read->folder()->meetings(), QList<Meeting*> { read });
    QCOMPARE(read->segments().first()->meeting(), read);
    QCOMPARE(read->chatMessages().first()->meeting(), read);
    QCOMPARE(reopened.fetchFolders().last()->meetings(), QList<Meeting*>());
}

void TestStore::textsComeBackAsGiven_data()
{
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("given");
    // Bytes an earlier version left in the file, written there instead of given.
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("expected");

    const auto text = [](std::initializer_list<char16_t> units) {
        return QString(reinterpret_cast<const QChar*>(std::data(units)), qsizetype(units.size()));
    };
    const QString hostile = text({ 0xFEFF, 'a', 0xFFFE, 0xFFFF, 0xD83D, 0xDE42, 0xE9, 0x4F1A, 0 });
    const QString utf8 = QStringLiteral("UTF-8");
    QTest::newRow("leading byte-order mark")
        << utf8 << text({ 0xFEFF, 'a', 'b' }) << QByteArray() << text({ 0xFEFF, 'a', 'b' });
    QTest::newRow("leading swapped mark")
        << utf8 << text({ 0xFFFE, 'a', 'b' }) << QByteArray() << text({ 0xFFFE, 'a', 'b' });
    QTest::newRow("non-characters inside")
        << utf8 << text({ 'a', 0xFFFE, 'b', 0xFFFF }) << QByteArray() << text({ 'a', 0xFFFE, 'b', 0xFFFF });
    QTest::newRow("accents, CJK, astral, NUL") << utf8 << hostile << QByteArray() << hostile;
    QTest::newRow("empty") << utf8 << QString() << QByteArray() << QString();
    QTest::newRow("lone high surrogate before a letter")
        << utf8 << text({ 'a', 0xD800, 'b' }) << QByteArray() << text({ 'a', 0xFFFD, 'b' });
    QTest::newRow("lone high surrogate at the end")
        << utf8 << text({ 'a', 0xD800 }) << QByteArray() << text({ 'a', 0xFFFD });
    QTest::newRow("lone low surrogates, reversed pair")
        << utf8 << text({ 0xDC00, 'a', 0xDE42, 0xD83D }) << QByteArray() << text({ 0xFFFD, 'a', 0xFFFD, 0xFFFD });
    // A file another tool made in UTF-16 is written as before (where a leading mark is lost).
    const QString utf16 = text({ 'a', 0xFEFF, 0xFFFE, 0xFFFF, 0xD83D, 0xDE42, 0xE9, 0x4F1A, 0 });
    QTest::newRow("UTF-16le store") << QStringLiteral("UTF-16le") << utf16 << QByteArray() << utf16;
    QTest::newRow("UTF-16be store") << QStringLiteral("UTF-16be") << utf16 << QByteArray() << utf16;
    QTest::newRow("earlier surrogate joined with its letter")
        << utf8 << QString() << QByteArray("a\xF0\x90\x81\xA2") << text({ 'a', 0xD800, 0xDC62 });
    QTest::newRow("earlier lone surrogate at the end")
        << utf8 << QString() << QByteArray("a\xED\xA0\x80") << text({ 'a', 0xFFFD });
    QTest::newRow("earlier stray byte") << utf8 << QString() << QByteArray("a\x80") << text({ 'a', 0x80 });
}

// Every kind of text field, set through the model, saved, and read from the file opened again;
// and as the file holds it, in its own encoding, a TEXT value.
void TestStore::textsComeBackAsGiven()
{
    QFETCH(QString, encoding);
    QFETCH(QString, given);
    QFETCH(QByteArray, stored);
    QFETCH(QString, expected);

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Quillet.store"));
    QVERIFY(execOn(path,
        { QStringLiteral("PRAGMA encoding='%1'").arg(encoding), QStringLiteral("CREATE TABLE t (c)"),
            QStringLiteral("DROP TABLE t") }));
    const auto open = [&path] {
        auto opened = ModelContext::open(path);
        return opened.ok() ? std::move(opened).value() : nullptr;
    };
    const auto texts = [](Meeting* meeting) {
        return QStringList { meeting->title(), meeting->summary().value_or(QStringLiteral("none")),
            meeting->userNotes(), meeting->organizer().value_or(QStringLiteral("none")),
            meeting->attendeeNames().value(0), meeting->segments().value(0)->text(),
            meeting->chatMessages().value(0)->text(), meeting->folder()->name() };
    };
    {
        std::unique_ptr<ModelContext> context = open();
        QVERIFY(context);
        auto* meeting = new Meeting(given, kMonday);
        meeting->setSummary(given);
        meeting->setUserNotes(given);
        meeting->setOrganizer(given);
        meeting->setAttendeeNames({ given });
        meeting->appendSegment(new TranscriptSegment(given, Speaker::me(), 0));
        meeting->appendChatMessage(new ChatMessage(ChatRole::Assistant, given, std::nullopt));
        meeting->setFolder(new Folder(given, QStringLiteral("folder"), QString()));
        context->insert(meeting);
        if (stored.isEmpty())
            QCOMPARE(
                units(texts(meeting).join(QLatin1Char('|'))), units(QStringList(8, expected).join(QLatin1Char('|'))));
        QVERIFY(context->save().ok());
    }
    if (!stored.isEmpty()) {
        const QString bytes = QStringLiteral("CAST(X'%1' AS TEXT)").arg(QString::fromLatin1(stored.toHex()));
        QVERIFY(execOn(path,
            { QStringLiteral(R"(UPDATE "Meeting" SET "title" = %1, "summary" = %1, "userNotes" = %1, )"
                             R"("organizer" = %1, "attendeeNames" = '["' || %1 || '"]')")
                    .arg(bytes),
                QStringLiteral(R"(UPDATE "TranscriptSegment" SET "text" = %1)").arg(bytes),
                QStringLiteral(R"(UPDATE "ChatMessage" SET "text" = %1)").arg(bytes),
                QStringLiteral(R"(UPDATE "Folder" SET "name" = %1)").arg(bytes) }));
    } else {
        QByteArray onDisk = expected.toUtf8();
        if (encoding != QLatin1String("UTF-8")) {
            onDisk = QByteArray(reinterpret_cast<const char*>(expected.utf16()), expected.size() * 2);
            if (encoding.endsWith(QLatin1String("be")))
                qToBigEndian<char16_t>(expected.utf16(), expected.size(), onDisk.data());
        }
        QCOMPARE(valueOn(path, QStringLiteral(R"(SELECT hex("userNotes") FROM "Meeting")")).toString(),
            QString::fromLatin1(onDisk.toHex().toUpper()));
        QCOMPARE(valueOn(path, QStringLiteral(R"(SELECT typeof("text") FROM "ChatMessage")")).toString(),
            QStringLiteral("text"));
    }
    std::unique_ptr<ModelContext> reopened = open();
    QVERIFY(reopened);
    QCOMPARE(units(texts(reopened->fetchMeetings().value(0)).join(QLatin1Char('|'))),
        units(QStringList(8, expected).join(QLatin1Char('|'))));
}

void TestStore::editedSavedChildrenSurviveReopen_data()
{
    // Rows saved in this context know their keys from the save; rows read back from the file
    // know them from the read.
    QTest::addColumn<bool>("reopenBeforeEdit");
    QTest::newRow("edited in the context that saved them") << false;
    QTest::newRow("edited after a reopen") << true;
}

void TestStore::editedSavedChildrenSurviveReopen()
{
    QFETCH(bool, reopenBeforeEdit);

    TempStore store;
    auto* meeting = new Meeting(QStringLiteral("m"), kMonday);
    meeting->appendSegment(new TranscriptSegment(QStringLiteral("draft"), Speaker::me(), 1));
    meeting->appendSegment(new TranscriptSegment(QStringLiteral("untouched"), Speaker::them(), 2));
    meeting->appendChatMessage(new ChatMessage(ChatRole::User, QStringLiteral("question"), std::nullopt));
    store->insert(meeting);
    QVERIFY(store->save().ok());
    const QUuid id = meeting->id();

    Meeting* edited = reopenBeforeEdit ? store.reopen().meetingById(id) : meeting;
    QVERIFY(edited);
    TranscriptSegment* segment = edited->segments().first();
    segment->setText(QStringLiteral("final text"));
    segment->setSpeaker(Speaker::other(QStringLiteral("Linh")));
    segment->setTimestamp(4.5);
    segment->setIsFinal(true);
    ChatMessage* message = edited->chatMessages().first();
    message->setRole(ChatRole::Assistant);
    message->setText(QStringLiteral("answer"));
    message->setModelId(QStringLiteral("fast"));
    message->setCreatedAt(at(9, 12));
    const StoredMeeting expected = storedMeeting(*edited);
    QVERIFY(store->save().ok());

    Meeting* read = store.reopen().meetingById(id);
    QVERIFY(read);
    QCOMPARE(read->segments().first()->text(), QStringLiteral("final text"));
    QCOMPARE(read->chatMessages().first()->text(), QStringLiteral("answer"));
    QVERIFY(storedMeeting(*read) == expected);
}

void TestStore::rollbackRestoresSavedState()
{
    TempStore store;
    auto* folder = new Folder(QStringLiteral("Clients"), QStringLiteral("folder"), QString());
    store->insert(folder);
    auto* meeting = new Meeting(QStringLiteral("before"), kMonday);
    meeting->setFolder(folder);
    meeting->appendSegment(new TranscriptSegment(QStringLiteral("one"), Speaker::me(), 1));
    meeting->appendSegment(new TranscriptSegment(QStringLiteral("two"), Speaker::them(), 2));
    store->insert(meeting);
    auto* doomed = new Meeting(QStringLiteral("doomed"), at(2));
    store->insert(doomed);
    QVERIFY(store->save().ok());

    // Every kind of change, none saved.
    meeting->setTitle(QStringLiteral("after"));
    meeting->segments().first()->setText(QStringLiteral("changed"));
    store->remove(meeting->segments().last());
    meeting->appendSegment(new TranscriptSegment(QStringLiteral("new"), Speaker::me(), 3));
    QPointer<Meeting> added = new Meeting(QStringLiteral("added"), at(3));
    store->insert(added);
    auto* otherFolder = new Folder(QStringLiteral("Other"), QStringLiteral("folder"), QString());
    store->insert(otherFolder);
    store->remove(folder); // unfiles the meeting
    QCOMPARE(meeting->folder(), nullptr);
    store->remove(doomed);
    QCOMPARE(store->meetingCount(), 2);

    QSignalSpy titleSpy(meeting, &Meeting::titleChanged);
    QSignalSpy folderSpy(meeting, &Meeting::folderChanged);
    QSignalSpy insertedSpy(&store.context(), &ModelContext::meetingInserted);
    QSignalSpy removedSpy(&store.context(), &ModelContext::meetingRemoved);
    store->rollback();
    QVERIFY(!store->hasChanges());

    QCOMPARE(meeting->title(), QStringLiteral("before"));
    QCOMPARE(titleSpy.count(), 1);
    QCOMPARE(meeting->folder(), folder);
    QVERIFY(folderSpy.count() >= 1);
    QCOMPARE(folder->meetings(), QList<Meeting*> { meeting });
    QCOMPARE(meeting->formattedTranscript(), QStringLiteral("Speaker A: one\nSpeaker B: two"));
    QCOMPARE(store->fetchFolders(), QList<Folder*> { folder });
    QCOMPARE(store->meetingCount(), 2);
    QVERIFY(store->meetingById(doomed->id()) == doomed);
    QCOMPARE(insertedSpy.count(), 1);
    QCOMPARE(removedSpy.count(), 1);
    QCOMPARE(removedSpy.first().first().toUuid(), added->id());
    flushDeletes();
    QVERIFY(added.isNull());

    // The objects are what the file holds.
    QVERIFY(store->save().ok());
    const QUuid id = meeting->id();
    ModelContext& reopened = store.reopen();
    QCOMPARE(reopened.meetingCount(), 2);
    QCOMPARE(reopened.meetingById(id)->title(), QStringLiteral("before"));
    QCOMPARE(reopened.meetingById(id)->formattedTranscript(), QStringLiteral("Speaker A: one\nSpeaker B: two"));
    QCOMPARE(reopened.meetingById(id)->folder(), reopened.fetchFolders().value(0));
}

void TestStore::rollbackNotifiesEveryChangedField()
{
    // A field put back without its signal leaves every view showing the unsaved value.
    TempStore store;
    auto* folder = new Folder(QStringLiteral("Clients"), QStringLiteral("folder"), QStringLiteral("d"));
    store->insert(folder);
    auto* meeting = new Meeting(QStringLiteral("before"), kMonday);
    meeting->setFolder(folder);
    auto* segment = new TranscriptSegment(QStringLiteral("one"), Speaker::me(), 1);
    auto* message = new ChatMessage(ChatRole::User, QStringLiteral("q"), std::nullopt);
    meeting->appendSegment(segment);
    meeting->appendChatMessage(message);
    store->insert(meeting);
    QVERIFY(store->save().ok());
    const StoredMeeting saved = storedMeeting(*meeting);

    folder->setId(QUuid::createUuid());
    folder->setName(QStringLiteral("x"));
    folder->setIcon(QStringLiteral("star"));
    folder->setDetail(QStringLiteral("x"));
    folder->setCreatedAt(at(2));
    meeting->setId(QUuid::createUuid());
    meeting->setTitle(QStringLiteral("after"));
    meeting->setSummary(QStringLiteral("x"));
    meeting->setUserNotes(QStringLiteral("x"));
    meeting->setDate(at(3));
    meeting->setDuration(9);
    meeting->setIsRecording(true);
    meeting->setCalendarEventId(QStringLiteral("x"));
    meeting->setAttendeeNames({ QStringLiteral("x") });
    meeting->setOrganizer(QStringLiteral("x"));
    meeting->setCalendarName(QStringLiteral("x"));
    meeting->setScheduledStart(at(4));
    meeting->setScheduledEnd(at(5));
    meeting->setSource(QStringLiteral("calendar"));
    meeting->setTitleIsUserEdited(true);
    meeting->setAutoStartEnabled(true);
    meeting->setAutoStartFired(true);
    meeting->setLinkBannerDismissed(true);
    segment->setId(QUuid::createUuid());
    segment->setText(QStringLiteral("changed"));
    segment->setSpeakerRaw(QStringLiteral("Them"));
    segment->setTimestamp(7);
    segment->setIsFinal(true);
    message->setId(QUuid::createUuid());
    message->setRole(ChatRole::Assistant);
    message->setText(QStringLiteral("x"));
    message->setModelId(QStringLiteral("x"));
    message->setCreatedAt(at(6));

    // Links between records did not change, so their signals must stay quiet.
    const QSet<QByteArray> links { "folderChanged", "meetingChanged", "meetingsChanged", "segmentsChanged",
        "chatMessagesChanged" };
    const QList<QObject*> records { folder, meeting, segment, message };
    std::vector<std::map<QByteArray, std::unique_ptr<QSignalSpy>>> spies;
    for (QObject* record : records)
        spies.push_back(spyOnChanges(record));
    QSignalSpy transcriptSpy(&store.context(), &ModelContext::transcriptChanged);
    store->rollback();

    QVERIFY(storedMeeting(*meeting) == saved);
    for (qsizetype i = 0; i < records.size(); ++i) {
        QVERIFY(spies[i].size() >= 5);
        for (const auto& [name, spy] : spies[i]) {
            const int expected = links.contains(name) ? 0 : 1;
            QVERIFY2(spy->count() == expected,
                qPrintable(QStringLiteral("%1::%2 emitted %3 times")
                               .arg(QLatin1String(records[i]->metaObject()->className()), QLatin1String(name))
                               .arg(spy->count())));
        }
    }
    QCOMPARE(transcriptSpy.count(), 1);
    QVERIFY(!store->hasChanges());
}

void TestStore::deletingMeetingCascades()
{
    TempStore store;
    auto* meeting = new Meeting(QStringLiteral("gone"), kMonday);
    auto* kept = new Meeting(QStringLiteral("kept"), at(10));
    for (int i = 0; i < 3; ++i) {
        meeting->appendSegment(new TranscriptSegment(QStringLiteral("s"), Speaker::me(), i));
        meeting->appendChatMessage(new ChatMessage(ChatRole::User, QStringLiteral("q"), std::nullopt));
        kept->appendSegment(new TranscriptSegment(QStringLiteral("k%1").arg(i), Speaker::them(), i));
        kept->appendChatMessage(
            new ChatMessage(ChatRole::Assistant, QStringLiteral("a%1").arg(i), QStringLiteral("fast")));
    }
    store->insert(meeting);
    store->insert(kept);
    QVERIFY(store->save().ok());
    QCOMPARE(store.rowCount(QStringLiteral("TranscriptSegment")), 6);

    // After a reopen the children of the deleted meeting were never read into memory.
    ModelContext& context = store.reopen();
    Meeting* gone
        = context.fetchMeetings({ [](const Meeting& m) { return m.title() == QLatin1String("gone"); } }).first();
    QSignalSpy removed(&context, &ModelContext::meetingRemoved);
    const QUuid goneId = gone->id();
    // Unsaved turns of a deleted meeting go with it.
    gone->appendSegment(new TranscriptSegment(QStringLiteral("late"), Speaker::me(), 7));
    gone->appendSegment(new TranscriptSegment(QStringLiteral("later"), Speaker::me(), 8));
    context.remove(gone);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed.first().first().toUuid(), goneId);
    QCOMPARE(context.meetingById(goneId), nullptr);
    QVERIFY(context.save().ok());
    QCOMPARE(store.rowCount(QStringLiteral("Meeting")), 1);
    QCOMPARE(store.rowCount(QStringLiteral("TranscriptSegment")), 3);
    QCOMPARE(store.rowCount(QStringLiteral("ChatMessage")), 3);

    // Deleting one segment and one message leaves the meeting and the others.
    Meeting* keptMeeting = context.fetchMeetings().first();
    QSignalSpy segmentsChanged(keptMeeting, &Meeting::segmentsChanged);
    TranscriptSegment* changedMind = keptMeeting->segments().at(0);
    context.remove(changedMind);
    keptMeeting->appendSegment(changedMind); // takes the removal back
    context.remove(keptMeeting->segments().at(1));
    context.remove(keptMeeting->chatMessages().at(0));
    QCOMPARE(segmentsChanged.count(), 3);
    QVERIFY(context.save().ok());
    QCOMPARE(store.reopen().fetchMeetings().first()->formattedTranscript(), QStringLiteral("Speaker B: k0 k2"));
    QCOMPARE(store.rowCount(QStringLiteral("ChatMessage")), 2);

    // A segment appended to a meeting whose transcript was not read yet joins the stored ones.
    Meeting* fresh = store->fetchMeetings().first();
    fresh->appendSegment(new TranscriptSegment(QStringLiteral("k3"), Speaker::them(), 3));
    QVERIFY(store->save().ok());
    QCOMPARE(store.reopen().fetchMeetings().first()->formattedTranscript(), QStringLiteral("Speaker B: k0 k2 k3"));
}

void TestStore::foldersFileAndUnfileMeetings()
{
    TempStore store;
    auto* first = new Folder(QStringLiteral("First"), QStringLiteral("folder"), QString());
    auto* second = new Folder(QStringLiteral("Second"), QStringLiteral("folder"), QString());
    auto* a = new Meeting(QStringLiteral("a"), kMonday);
    auto* b = new Meeting(QStringLiteral("b"), kMonday);
    store->insert(a);
    store->insert(b);
    a->setFolder(first); // a folder not yet in the context comes in with the meeting
    b->setFolder(first);
    QCOMPARE(store->fetchFolders().size(), 1);
    QSignalSpy firstChanged(first, &Folder::meetingsChanged);
    QSignalSpy secondChanged(second, &Folder::meetingsChanged);
    store->insert(second);
    b->setFolder(second);
    QCOMPARE(first->meetings(), QList<Meeting*> { a });
    QCOMPARE(second->meetings(), QList<Meeting*> { b });
    QCOMPARE(firstChanged.count(), 1);
    QCOMPARE(secondChanged.count(), 1);
    QVERIFY(store->save().ok());

    ModelContext& context = store.reopen();
    Folder* firstRead = context.fetchFolders().first();
    QCOMPARE(firstRead->name(), QStringLiteral("First"));
    QCOMPARE(firstRead->meetings().size(), 1);
    // Deleting a folder keeps its meetings, unfiled.
    firstRead->meetings().first()->setFolder(context.fetchFolders().last());
    context.remove(context.fetchFolders().last());
    QVERIFY(context.save().ok());
    QCOMPARE(store.rowCount(QStringLiteral("Folder")), 1);
    QCOMPARE(store.rowCount(QStringLiteral("Meeting")), 2);
    ModelContext& after = store.reopen();
    QCOMPARE(after.meetingCount(), 2);
    for (Meeting* meeting : after.fetchMeetings())
        QCOMPARE(meeting->folder(), nullptr);
    QCOMPARE(after.fetchFolders().first()->meetings(), QList<Meeting*>());
}

void TestStore::sharedObjectPerRow()
{
    TempStore store;
    auto* created = new Meeting(QStringLiteral("one"), kMonday);
    store->insert(created);
    QVERIFY(store->save().ok());
    QCOMPARE(store->meetingById(created->id()), created);

    ModelContext& context = store.reopen();
    Meeting* fromList = context.fetchMeetings().first();
    Meeting* fromFilter
        = context.fetchMeetings({ [](const Meeting& m) { return m.title() == QLatin1String("one"); } }).first();
    Meeting* byId = context.meetingById(fromList->id());
    QCOMPARE(fromFilter, fromList);
    QCOMPARE(byId, fromList);
    QCOMPARE(fromList->segments(), fromFilter->segments());
    QVERIFY(context.meetingById(QUuid::createUuid()) == nullptr);

    MeetingListModel list(context);
    QSignalSpy rowChanged(&list, &QAbstractItemModel::dataChanged);
    QSignalSpy titleChanged(fromFilter, &Meeting::titleChanged);
    byId->setTitle(QStringLiteral("renamed"));
    QCOMPARE(fromFilter->title(), QStringLiteral("renamed"));
    QCOMPARE(titleChanged.count(), 1);
    QCOMPARE(rowChanged.count(), 1);
    QCOMPARE(list.data(list.index(0), Qt::DisplayRole).toString(), QStringLiteral("renamed"));
    byId->setTitle(QStringLiteral("renamed")); // no change, no signal
    QCOMPARE(titleChanged.count(), 1);
}

void TestStore::duplicateIdsDoNotBreakSave()
{
    TempStore store;
    auto* first = new Meeting(QStringLiteral("first"), kMonday);
    auto* twin = new Meeting(QStringLiteral("twin"), at(10));
    twin->setId(first->id());
    auto* segment = new TranscriptSegment(QStringLiteral("a"), Speaker::me(), 0);
    auto* copy = new TranscriptSegment(QStringLiteral("b"), Speaker::me(), 1);
    copy->setId(segment->id());
    first->appendSegment(segment);
    twin->appendSegment(copy);
    store->insert(first);
    store->insert(twin);
    Result<void, StoreError> saved = store->save();
    QVERIFY2(saved.ok(), qPrintable(saveFailure(saved)));
    twin->setTitle(QStringLiteral("twin renamed"));
    saved = store->save();
    QVERIFY2(saved.ok(), qPrintable(saveFailure(saved)));

    ModelContext& context = store.reopen();
    QCOMPARE(context.meetingCount(), 2);
    const QList<Meeting*> meetings = context.fetchMeetings();
    QCOMPARE(meetings.at(0)->title(), QStringLiteral("twin renamed"));
    QCOMPARE(meetings.at(1)->title(), QStringLiteral("first"));
    QCOMPARE(meetings.at(0)->formattedTranscript(), QStringLiteral("Speaker A: b"));
    QCOMPARE(meetings.at(1)->formattedTranscript(), QStringLiteral("Speaker A: a"));
}

void TestStore::failedSaveWritesNothingAndKeepsChanges()
{
    TempStore store;
    auto* meeting = new Meeting(QStringLiteral("before"), kMonday);
    store->insert(meeting);
    QVERIFY(store->save().ok());
    // The file refuses one particular segment, after the meeting's update went through.
    QVERIFY(execOn(store.filePath(),
        { QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON TranscriptSegment WHEN NEW.text = 'refused' "
                         "BEGIN SELECT RAISE(ABORT, 'refused by test'); END") }));

    meeting->setTitle(QStringLiteral("after"));
    auto* folder = new Folder(QStringLiteral("new"), QStringLiteral("folder"), QString());
    meeting->setFolder(folder);
    auto* refused = new TranscriptSegment(QStringLiteral("refused"), Speaker::me(), 0);
    meeting->appendSegment(refused);
    QSignalSpy savedSpy(&store.context(), &ModelContext::saved);
    QSignalSpy failedSpy(&store.context(), &ModelContext::saveFailed);
    LogCapture log;
    const Result<void, StoreError> failed = store->save();
    QVERIFY(!failed.ok());
    const QString error = failed.error().message;
    QVERIFY2(error.contains(QLatin1String("refused by test")), qPrintable(error));
    QVERIFY(store->hasChanges());
    QCOMPARE(savedSpy.count(), 0);
    // Callers that ignore the result still leave a trace, and views hear of it.
    QCOMPARE(failedSpy.count(), 1);
    QCOMPARE(failedSpy.first().first().toString(), error);
    QVERIFY(log.contains(QStringLiteral("[Quillet] Store save failed: ") + error));
    QCOMPARE(store.rowCount(QStringLiteral("Folder")), 0);

    // Without the refused record the same pending changes save, each once.
    store->remove(refused);
    meeting->appendSegment(new TranscriptSegment(QStringLiteral("fine"), Speaker::me(), 1));
    {
        const Result<void, StoreError> saved = store->save();
        QVERIFY2(saved.ok(), qPrintable(saveFailure(saved)));
    }
    QCOMPARE(savedSpy.count(), 1);
    QCOMPARE(failedSpy.count(), 1);
    QCOMPARE(store.rowCount(QStringLiteral("Folder")), 1);
    QCOMPARE(store.rowCount(QStringLiteral("TranscriptSegment")), 1);
    ModelContext& context = store.reopen();
    QCOMPARE(context.fetchMeetings().first()->title(), QStringLiteral("after"));
    QCOMPARE(context.fetchMeetings().first()->folder(), context.fetchFolders().first());
}

void TestStore::fullDiskSaveIsRetriedUntilItGoesThrough_data()
{
    QTest::addColumn<bool>("byChange");
    QTest::newRow("retried after the next change") << true;
    QTest::newRow("retried on the timer") << false;
}

// A save on a full disk fails as a whole and keeps every change in memory; the problem is
// published from the first failure until a retry goes through once there is room, and the
// reopened file then holds everything typed meanwhile.
void TestStore::fullDiskSaveIsRetriedUntilItGoesThrough()
{
    QFETCH(bool, byChange);
    FullDisk disk;
    if (!disk.isMounted())
        QSKIP(qPrintable(disk.skipReason()));
    const QString path = disk.filePath(QStringLiteral("Quillet.store"));
    auto opened = ModelContext::open(path);
    QVERIFY2(opened.ok(), qPrintable(openFailure(opened)));
    std::unique_ptr<ModelContext> context = std::move(opened).value();
    FakeScheduler scheduler;
    auto health = std::make_unique<SaveHealth>(*context, scheduler);
    QSignalSpy problemSpy(health.get(), &SaveHealth::problemChanged);
    auto* meeting = new Meeting(QStringLiteral("before"), kMonday);
    context->insert(meeting);
    QVERIFY(context->save().ok());

    QVERIFY(disk.fill());
    // More than the journal holds already, so the save needs new blocks.
    const QString notes = QStringLiteral("typed while the disk was full. ").repeated(4000);
    meeting->setUserNotes(notes);
    const Result<void, StoreError> failed = context->save();
    QVERIFY(!failed.ok());
    const QString error = failed.error().message;
    QVERIFY2(error.contains(QLatin1String("database or disk is full")), qPrintable(error));
    QCOMPARE(health->problem(), SaveHealth::Problem::diskFull);
    QCOMPARE(problemSpy.count(), 1);

    // Still full: the retries after a change and on the timer fail, and the problem stands.
    meeting->setTitle(QStringLiteral("renamed while full"));
    scheduler.advance(SaveHealth::kRetryInterval);
    QCOMPARE(health->problem(), SaveHealth::Problem::diskFull);
    QCOMPARE(problemSpy.count(), 1);
    QVERIFY(context->hasChanges());

    disk.makeRoom();
    if (byChange) {
        meeting->appendSegment(new TranscriptSegment(QStringLiteral("said after"), Speaker::me(), 1));
        scheduler.advance(std::chrono::milliseconds(0));
    } else {
        scheduler.advance(SaveHealth::kRetryInterval);
    }
    QCOMPARE(health->problem(), SaveHealth::Problem::none);
    QCOMPARE(problemSpy.count(), 2);
    QVERIFY(!context->hasChanges());

    health.reset();
    context.reset();
    opened = ModelContext::open(path);
    QVERIFY2(opened.ok(), qPrintable(openFailure(opened)));
    context = std::move(opened).value();
    Meeting* reopened = context->fetchMeetings().value(0);
    QVERIFY(reopened);
    QCOMPARE(reopened->title(), QStringLiteral("renamed while full"));
    QCOMPARE(reopened->userNotes(), notes);
    QCOMPARE(reopened->segments().size(), byChange ? 1 : 0);
}

void TestStore::olderFileReadsDefaults()
{
    // A file whose tables lack most fields, as a build that knew fewer of them wrote it.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Quillet.store"));
    QVERIFY(execOn(path,
        {
            QStringLiteral("CREATE TABLE Meeting (rowKey INTEGER PRIMARY KEY, id TEXT NOT NULL DEFAULT '', title TEXT "
                           "NOT NULL DEFAULT '', date INTEGER NOT NULL DEFAULT 0)"),
            QStringLiteral("CREATE TABLE TranscriptSegment (rowKey INTEGER PRIMARY KEY, text TEXT NOT NULL DEFAULT '', "
                           "meeting INTEGER)"),
            QStringLiteral("CREATE TABLE Folder (rowKey INTEGER PRIMARY KEY, id TEXT NOT NULL DEFAULT '', name TEXT "
                           "NOT NULL DEFAULT '')"),
            QStringLiteral("CREATE TABLE ChatMessage (rowKey INTEGER PRIMARY KEY, id TEXT NOT NULL DEFAULT '', text "
                           "TEXT NOT NULL DEFAULT '', meeting INTEGER)"),
            QStringLiteral("INSERT INTO Folder VALUES (1, '6f1c1f55-6a3b-4d47-9a39-0d9c7ad0e4a1', 'Old')"),
            QStringLiteral(
                "INSERT INTO Meeting VALUES (1, '1b4e28ba-2fa1-11d2-883f-0016d3cca427', 'Old meeting', 1773050400000)"),
            QStringLiteral("INSERT INTO TranscriptSegment VALUES (1, 'hello', 1)"),
            QStringLiteral("INSERT INTO TranscriptSegment VALUES (2, 'again', 1)"),
            QStringLiteral("INSERT INTO ChatMessage VALUES (1, 'e5b8c6a2-8d0f-4f53-9a5e-8a1d2c3b4f50', 'question', 1)"),
            QStringLiteral("PRAGMA user_version = 1"),
        }));

    auto opened = ModelContext::open(path);
    QVERIFY2(opened.ok(), qPrintable(openFailure(opened)));
    std::unique_ptr<ModelContext> context = std::move(opened).value();
    Meeting* meeting = context->meetingById(QUuid::fromString(QStringLiteral("1b4e28ba-2fa1-11d2-883f-0016d3cca427")));
    QVERIFY(meeting);
    QCOMPARE(meeting->date(), QDateTime::fromMSecsSinceEpoch(1773050400000, Qt::UTC));
    QCOMPARE(meeting->source(), QStringLiteral("quick-note"));
    QCOMPARE(meeting->summary(), std::nullopt);
    QCOMPARE(meeting->attendeeNames(), QStringList());
    QCOMPARE(meeting->folder(), nullptr);
    QCOMPARE(context->fetchFolders().first()->icon(), QStringLiteral("folder"));
    QCOMPARE(meeting->formattedTranscript(), QStringLiteral("Speaker A: hello again"));
    const QList<TranscriptSegment*> segments = meeting->segments();
    // Records stored without an identifier get their own new one.
    QVERIFY(!segments.at(0)->id().isNull());
    QVERIFY(segments.at(0)->id() != segments.at(1)->id());
    QCOMPARE(meeting->chatMessages().first()->roleRaw(), QStringLiteral("user"));
    QVERIFY(meeting->chatMessages().first()->createdAt().isValid());

    // The upgraded file takes new changes and reads them back.
    meeting->setLinkBannerDismissed(true);
    const Result<void, StoreError> saved = context->save();
    QVERIFY2(saved.ok(), qPrintable(saveFailure(saved)));
    context.reset();
    opened = ModelContext::open(path);
    QVERIFY2(opened.ok(), qPrintable(openFailure(opened)));
    context = std::move(opened).value();
    QVERIFY(context->fetchMeetings().first()->linkBannerDismissed());
}

void TestStore::unusableFileFailsWithItsReason_data()
{
    // A file of these bytes, or else a database made by these statements, or else (neither
    // given) a folder where the file should be.
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("statements");
    QTest::addColumn<QString>("reason");
    QTest::newRow("not a database") << QByteArray("These are meeting notes, not a store.\n").repeated(200)
                                    << QStringList() << QStringLiteral("file is not a database");
    QTest::newRow("a folder") << QByteArray() << QStringList() << QStringLiteral("unable to open database file");

    const QString anotherProgram = QStringLiteral("another program's database, not a Quillet store");
    const QStringList bookmarks = {
        QStringLiteral("CREATE TABLE bookmark (id INTEGER PRIMARY KEY, url TEXT, title TEXT)"),
        QStringLiteral("INSERT INTO bookmark VALUES (1, 'https://example.com', 'Example')"),
        QStringLiteral("PRAGMA user_version = 7"),
    };
    QTest::newRow("another program's database") << QByteArray() << bookmarks << anotherProgram;
    QTest::newRow("another program's database, WAL")
        << QByteArray() << (QStringList { QStringLiteral("PRAGMA journal_mode=WAL") } + bookmarks) << anotherProgram;

    const QStringList recordTables = {
        QStringLiteral("CREATE TABLE Meeting (rowKey INTEGER PRIMARY KEY, title TEXT)"),
        QStringLiteral("CREATE TABLE TranscriptSegment (rowKey INTEGER PRIMARY KEY, text TEXT)"),
        QStringLiteral("CREATE TABLE Folder (rowKey INTEGER PRIMARY KEY, name TEXT)"),
        QStringLiteral("CREATE TABLE ChatMessage (rowKey INTEGER PRIMARY KEY, text TEXT)"),
        QStringLiteral("INSERT INTO Meeting VALUES (1, 'Kept as it is')"),
    };
    QTest::newRow("tables of its own beside ours")
        << QByteArray()
        << (recordTables
               + QStringList { QStringLiteral("CREATE TABLE Contact (name TEXT)"),
                   QStringLiteral("PRAGMA user_version = 1") })
        << anotherProgram;
    QTest::newRow("our tables, never numbered") << QByteArray() << recordTables << anotherProgram;
    QTest::newRow("a newer store")
        << QByteArray()
        << (recordTables
               + QStringList { QStringLiteral("CREATE TABLE Attachment (meeting INTEGER, path TEXT)"),
                   QStringLiteral("PRAGMA user_version = %1").arg(StoreDatabase::schemaVersion() + 1) })
        << QStringLiteral("written by a newer version of Quillet (store version %1; this version reads up to %2)")
               .arg(StoreDatabase::schemaVersion() + 1)
               .arg(StoreDatabase::schemaVersion());
}

// The reason reaches the caller (the window that reports an unusable store shows it), and the
// file is left byte for byte as it was, without journal files beside it.
void TestStore::unusableFileFailsWithItsReason()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, statements);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Quillet.store"));
    if (!statements.isEmpty()) {
        QVERIFY(execOn(path, statements));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        content = file.readAll();
        QVERIFY(!content.isEmpty());
    } else if (content.isEmpty()) {
        QVERIFY(QDir().mkpath(path));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    }
    const QStringList filesBefore = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    const auto opened = ModelContext::open(path);
    QVERIFY(!opened.ok());
    QVERIFY2(opened.error().message.contains(reason), qPrintable(opened.error().message));
    if (!content.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), filesBefore);
}

void TestStore::fetchFiltersSortsAndLimits_data()
{
    QTest::addColumn<int>("sort");
    QTest::addColumn<int>("limit");
    QTest::addColumn<bool>("onlyAutoStart");
    QTest::addColumn<QStringList>("titles");

    // Meetings (title: date day, scheduled start day or none, auto start):
    // a: 3, 5, yes   b: 1, none, yes   c: 2, 4, no   d: 2, 6, yes (inserted after c)
    QTest::newRow("newest first, equal dates in stored order")
        << int(MeetingSort::DateDescending) << -1 << false << QStringList { "a", "c", "d", "b" };
    QTest::newRow("oldest first") << int(MeetingSort::DateAscending) << -1 << false
                                  << QStringList { "b", "c", "d", "a" };
    QTest::newRow("newest two") << int(MeetingSort::DateDescending) << 2 << false << QStringList { "a", "c" };
    QTest::newRow("limit zero") << int(MeetingSort::DateDescending) << 0 << false << QStringList {};
    QTest::newRow("scheduled, unscheduled last")
        << int(MeetingSort::ScheduledStartAscending) << -1 << false << QStringList { "c", "a", "d", "b" };
    QTest::newRow("auto start, scheduled")
        << int(MeetingSort::ScheduledStartAscending) << -1 << true << QStringList { "a", "d", "b" };
}

void TestStore::fetchFiltersSortsAndLimits()
{
    QFETCH(int, sort);
    QFETCH(int, limit);
    QFETCH(bool, onlyAutoStart);
    QFETCH(QStringList, titles);

    TempStore store;
    const auto add = [&](const char* title, int day, int scheduledDay, bool autoStart) {
        auto* meeting = new Meeting(QString::fromLatin1(title), at(day));
        if (scheduledDay)
            meeting->setScheduledStart(at(scheduledDay));
        meeting->setAutoStartEnabled(autoStart);
        store->insert(meeting);
    };
    add("a", 3, 5, true);
    add("b", 1, 0, true);
    add("c", 2, 4, false);
    add("d", 2, 6, true);
    QVERIFY(store->save().ok());

    for (const bool reopen : { false, true }) {
        ModelContext* context = reopen ? &store.reopen() : &store.context();
        MeetingFetch fetch;
        fetch.sort = MeetingSort(sort);
        fetch.limit = limit;
        if (onlyAutoStart)
            fetch.filter = [](const Meeting& m) { return m.autoStartEnabled(); };
        QStringList got;
        for (const Meeting* meeting : context->fetchMeetings(fetch))
            got.append(meeting->title());
        QCOMPARE(got, titles);
    }
}

void TestStore::meetingListFollowsChanges()
{
    TempStore store;
    store->insert(new Meeting(QStringLiteral("old"), at(1)));
    store->insert(new Meeting(QStringLiteral("new"), at(5)));
    QVERIFY(store->save().ok());
    ModelContext& context = store.reopen();

    MeetingListModel list(context);
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const auto titles = [&list] {
        QStringList result;
        for (int row = 0; row < list.rowCount(); ++row)
            result.append(list.data(list.index(row), MeetingListModel::TitleRole).toString());
        return result;
    };
    QCOMPARE(titles(), (QStringList { "new", "old" }));

    auto* middle = new Meeting(QStringLiteral("middle"), at(3));
    context.insert(middle);
    QCOMPARE(titles(), (QStringList { "new", "middle", "old" }));
    QCOMPARE(list.data(list.index(1), MeetingListModel::MeetingRole).value<Meeting*>(), middle);

    // A recording restarted into an old meeting moves it to the top, and back down again.
    QSignalSpy moved(&list, &QAbstractItemModel::rowsMoved);
    Meeting* old = list.meetingAt(2);
    old->setDate(at(9));
    QCOMPARE(titles(), (QStringList { "old", "new", "middle" }));
    old->setDate(at(2));
    QCOMPARE(titles(), (QStringList { "new", "middle", "old" }));
    QCOMPARE(moved.count(), 2);

    context.remove(list.meetingAt(0));
    QCOMPARE(titles(), (QStringList { "middle", "old" }));
    context.rollback();
    QCOMPARE(titles(), (QStringList { "new", "old" }));
    QVERIFY(!list.meetingAt(1)->date().isNull());
    QCOMPARE(list.meetingAt(1)->date(), at(1));
}

// A page replaced because its record is being removed makes its lists while the removal is
// announced: they must not start with the record, which is destroyed once the removal is saved.
void TestStore::listMadeDuringARemovalLacksTheRecord()
{
    TempStore store;
    auto* folder = new Folder(QStringLiteral("Team"), QStringLiteral("folder"), QString());
    auto* meeting = new Meeting(QStringLiteral("Standup"), at(1));
    meeting->setFolder(folder);
    store->insert(meeting);
    store->insert(new Meeting(QStringLiteral("Other"), at(2)));
    QVERIFY(store->save().ok());

    std::unique_ptr<MeetingListModel> meetings;
    std::unique_ptr<FolderListModel> folders;
    connect(&store.context(), &ModelContext::meetingAboutToBeRemoved, this, [&](Meeting* leaving) {
        QVERIFY(!store->contains(leaving));
        QCOMPARE(leaving->folder(), folder); // still whole while announced
        meetings = std::make_unique<MeetingListModel>(store.context());
    });
    connect(&store.context(), &ModelContext::folderAboutToBeRemoved, this,
        [&] { folders = std::make_unique<FolderListModel>(store.context()); });
    store->remove(meeting);
    store->remove(folder);
    QVERIFY(meetings && folders);
    QCOMPARE(meetings->rowCount(), 1);
    QCOMPARE(meetings->meetingAt(0)->title(), QStringLiteral("Other"));
    QCOMPARE(folders->rowCount(), 0);

    // Undone, the lists made meanwhile take the records back once.
    store->rollback();
    QCOMPARE(meetings->rowCount(), 2);
    QCOMPARE(folders->rowCount(), 1);
}

void TestStore::changesOfOneTurnCommitTogether()
{
    TempStore store;
    auto* kept = new Meeting(QStringLiteral("kept"), at(1));
    auto* gone = new Meeting(QStringLiteral("gone"), at(2));
    store->insert(kept);
    store->insert(gone);
    QVERIFY(store->save().ok());
    store->commitChangesEachTurn();
    QSignalSpy commits(&store.context(), &ModelContext::saved);

    // A rename, a deletion and a new meeting in one turn: one transaction at the next turn,
    // without waiting for the changes to pause.
    kept->setTitle(QStringLiteral("renamed"));
    store->remove(gone);
    store->insert(new Meeting(QStringLiteral("new"), at(3)));
    QCOMPARE(commits.count(), 0);
    letTheLoopTurn(store.context());
    QCOMPARE(commits.count(), 1);
    QVERIFY(!store->hasChanges());
    kept->setUserNotes(QStringLiteral("a"));
    letTheLoopTurn(store.context());
    QCOMPARE(commits.count(), 2);

    QStringList titles;
    for (const Meeting* meeting : store.reopen().fetchMeetings())
        titles.append(meeting->title());
    QCOMPARE(titles, (QStringList { "new", "renamed" }));
    QCOMPARE(store->fetchMeetings().last()->userNotes(), QStringLiteral("a"));
}

// Commits that fill the log many times over: the main thread never copies it into the file, a
// thread of the store's own does, and the log file is cut back to its limit.
void TestStore::checkpointsStayOffTheMainThread()
{
    DatabaseWriteWatch::install();
    TempStore store;
    auto* meeting = new Meeting(QStringLiteral("long notes"), kMonday);
    store->insert(meeting);
    QVERIFY(store->save().ok());
    const long onMainThread = DatabaseWriteWatch::onMainThread();
    const long elsewhere = DatabaseWriteWatch::elsewhere();
    const QString notes(400'000, QLatin1Char('n'));
    for (int commit = 0; commit < 60; ++commit) {
        meeting->setUserNotes(notes + QString(commit, QLatin1Char('.')));
        QVERIFY(store->save().ok());
    }
    QCOMPARE(DatabaseWriteWatch::onMainThread(), onMainThread);
    QTRY_VERIFY(DatabaseWriteWatch::elsewhere() > elsewhere);
    const QString log = store.filePath() + QStringLiteral("-wal");
    // The log starts over at the first commit after the thread's checkpoint has caught up.
    bool bounded = false;
    for (QDeadlineTimer patience(kPatientWaitMs); !bounded && !patience.hasExpired(); QTest::qWait(20)) {
        meeting->setTitle(meeting->title() + QLatin1Char('.'));
        QVERIFY(store->save().ok());
        bounded = QFileInfo(log).size() <= 16 * 1024 * 1024;
    }
    QVERIFY(bounded);
    QCOMPARE(DatabaseWriteWatch::onMainThread(), onMainThread);
    QCOMPARE(store.reopen().fetchMeetings().value(0)->userNotes(), notes + QString(59, QLatin1Char('.')));
}

void TestStore::folderListFollowsChanges()
{
    TempStore store;
    auto* later = new Folder(QStringLiteral("Later"), QStringLiteral("folder"), QString());
    later->setCreatedAt(at(5));
    store->insert(later);
    QVERIFY(store->save().ok());

    FolderListModel list(store.context());
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
    auto* earlier = new Folder(QStringLiteral("Earlier"), QStringLiteral("folder"), QString());
    earlier->setCreatedAt(at(1));
    store->insert(earlier);
    QCOMPARE(list.rowCount(), 2);
    QCOMPARE(list.folderAt(0), earlier);

    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);
    later->setName(QStringLiteral("Renamed"));
    QCOMPARE(list.data(list.index(1), Qt::DisplayRole).toString(), QStringLiteral("Renamed"));
    auto* meeting = new Meeting(QStringLiteral("m"), kMonday);
    store->insert(meeting);
    meeting->setFolder(later);
    QCOMPARE(list.data(list.index(1), FolderListModel::MeetingCountRole).toInt(), 1);
    QCOMPARE(changed.count(), 2);

    store->remove(earlier);
    QCOMPARE(list.rowCount(), 1);
    QVERIFY(store->save().ok());
    QCOMPARE(list.folderAt(0), later);
}

void TestStore::savedChangeSurvivesKill()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Quillet.store"));
    QProcess child;
    child.start(QStringLiteral(STORE_CHILD_PROCESS), { QStringLiteral("save"), path });
    QVERIFY(child.waitForStarted());
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT(
        (output += child.readAllStandardOutput()).contains("saved") || child.state() == QProcess::NotRunning, 30000);
    QCOMPARE(child.state(), QProcess::Running);
    child.kill(); // SIGKILL: no destructor, no checkpoint
    QVERIFY(child.waitForFinished());
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);

    auto opened = ModelContext::open(path);
    QVERIFY2(opened.ok(), qPrintable(openFailure(opened)));
    std::unique_ptr<ModelContext> context = std::move(opened).value();
    QCOMPARE(context->meetingCount(), 1);
    QCOMPARE(context->fetchMeetings().first()->title(), QStringLiteral("kept"));
}

QUILLET_TEST_MAIN(TestStore)
#include "TestStore.moc"
