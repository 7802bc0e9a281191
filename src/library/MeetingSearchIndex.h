#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class Meeting;
class ModelContext;

// A lower-cased copy of every meeting's title, notes and transcript, so that a search typed in
// the sidebar does not read every transcript from the file. A meeting is kept when its title,
// its notes or one of its segments, lower-cased, contains the lower-cased search text: a plain
// substring test, no accent folding, spaces at either end counting.
//
// The segments of meetings not yet opened are read on a worker thread, through a connection of
// its own to the store file; titles, notes and opened meetings are taken from the live records
// when that read comes back, so unsaved changes are found too. From then on the copy follows
// the context: each change touches only its meeting's part. A search asked before the copy is
// ready has to wait for ready(). Main thread; must not outlive its context.
class MeetingSearchIndex final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MeetingSearchIndex)
    Q_PROPERTY(bool isReady READ isReady NOTIFY ready)

public:
    struct Options
    {
        // Runs on the worker before it reads the file (tests hold the build with it).
        std::function<void()> beforeRead;
    };

    // What one search text asks for, worked out once per keystroke.
    class Query
    {
    public:
        Query() = default;
        explicit Query(const QString& searchText);

        bool isEmpty() const { return m_lowered.isEmpty(); }
        QString lowered() const { return m_lowered; }

    private:
        friend class MeetingSearchIndex;
        QString m_lowered;
        std::string m_bytes;
        std::vector<quint16> m_pairs; // the places in a Sketch of the pairs of bytes it holds
        // A NUL or an unpaired surrogate cannot be searched in the copy; such a query is
        // answered from the live records.
        bool m_searchable = true;
    };

    explicit MeetingSearchIndex(ModelContext& context, QObject* parent = nullptr);
    MeetingSearchIndex(ModelContext& context, Options options, QObject* parent = nullptr);
    ~MeetingSearchIndex() override;

    // Starts reading the file; later calls do nothing.
    void start();
    bool isStarted() const { return m_started; }
    bool isReady() const { return m_ready; }

    // The meetings of the list that match, in the list's order. An empty query keeps them all.
    // Before ready() it answers from the live records, reading every transcript: callers wait.
    QList<Meeting*> filter(const QList<Meeting*>& meetings, const Query& query) const;
    bool matches(const Meeting* meeting, const Query& query) const;

    // The rule itself over the live records, without the copy.
    static bool matchesPlainly(const Meeting& meeting, const QString& loweredQuery);

signals:
    void ready();
    // After ready(): the title, notes or transcript of the meeting changed, and with them,
    // perhaps, whether it matches.
    void meetingChanged(Meeting* meeting);

private:
    // Which pairs of adjacent bytes a text holds, hashed into a few thousand bits. A query with
    // a pair the text lacks cannot be in it, so most transcripts are passed over without being
    // read; one that may hold the query is still searched whole.
    class Sketch
    {
    public:
        static constexpr int kBits = 4096;
        static quint16 place(unsigned char first, unsigned char second)
        {
            return quint16((quint32(first) << 8 | second) * 2654435761u >> (32 - 12));
        }
        void add(const std::string& text);
        // bytes: the lower-cased query; pairs: the places of its pairs of bytes.
        bool mayHold(const std::string& bytes, const std::vector<quint16>& pairs) const;
        // The single bytes are kept whole, not hashed: for a query of one byte mayHold() is the
        // answer, and the text need not be read.
        static bool isCertain(const std::string& bytes) { return bytes.size() == 1; }

    private:
        std::array<quint64, kBits / 64> m_bits {};
        std::array<quint64, 4> m_bytes {}; // the single bytes, for queries of one byte
    };
    struct Entry
    {
        QString title; // as last copied, to tell a title or notes change from other writes
        QString notes;
        std::string head; // title and notes, lower-cased, each followed by a NUL
        std::string transcript; // every segment, lower-cased, each followed by a NUL
        Sketch transcriptSketch;
    };
    // What the worker read of one stored meeting: its texts as the file holds them, and their
    // copy, which stands wherever the live record still holds the same texts.
    struct StoredMeeting
    {
        QString title;
        QString notes;
        std::string head;
        std::string transcript;
        Sketch transcriptSketch;
    };
    using StoredCopy = QHash<qint64, StoredMeeting>;

    static std::shared_ptr<StoredCopy> readFile(const QString& filePath, const std::atomic_bool& cancelled);
    void apply(StoredCopy& stored);
    Entry& entryFor(Meeting* meeting);
    void copyHead(Meeting* meeting, Entry& entry);
    void copyTranscript(Meeting* meeting, Entry& entry);
    static bool entryMatches(const Entry& entry, const Query& query);

    ModelContext& m_context;
    Options m_options;
    bool m_started = false;
    bool m_ready = false;
    std::shared_ptr<std::atomic_bool> m_cancelled;
    QHash<const Meeting*, Entry> m_entries;
};
