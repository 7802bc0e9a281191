#include "library/MeetingSearchIndex.h"

#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "storage/StoreDatabase.h"
#include "storage/TranscriptSegment.h"

#include <QFuture>
#include <QFutureWatcher>
#include <QThread>
#include <QtConcurrent>
#include <algorithm>
#include <cstring>
#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// UTF-16 to UTF-8, with an unpaired surrogate written as its own three bytes rather than a
// replacement character, so that two different texts never become the same bytes. Returns
// false when it met one.
bool appendUtf8(std::string& out, QStringView text)
{
    bool clean = true;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        char32_t c = text[i].unicode();
        if (c < 0x80) {
            out.push_back(char(c));
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(text[i + 1].unicode())) {
            c = QChar::surrogateToUcs4(char16_t(c), text[i + 1].unicode());
            ++i;
        } else if (QChar::isSurrogate(c)) {
            clean = false;
        }
        if (c < 0x800) {
            out.push_back(char(0xC0 | (c >> 6)));
        } else if (c < 0x10000) {
            out.push_back(char(0xE0 | (c >> 12)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (c >> 18)));
            out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        }
        out.push_back(char(0x80 | (c & 0x3F)));
    }
    return clean;
}

// A field of the copy: the text lower-cased, then a NUL that no searchable query holds, so a
// match never runs from one field into the next.
void appendField(std::string& out, const QString& text)
{
    appendUtf8(out, text.toLower());
    out.push_back('\0');
}

// The C library's memmem reads the text a byte at a time for a needle of two bytes, and not much
// faster for a few more, which is what a search typed in the sidebar starts with; here sixteen
// places are tried at once for the needle's first and last bytes, and the bytes between are
// compared only where both are found.
bool contains(const std::string& haystack, const std::string& needle)
{
    const size_t size = haystack.size();
    const size_t length = needle.size();
    if (size < length)
        return false;
    if (length < 2)
        return length == 0 || std::memchr(haystack.data(), needle.front(), size) != nullptr;
    const char* text = haystack.data();
    size_t at = 0;
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(needle.front());
    const __m128i last = _mm_set1_epi8(needle.back());
    for (; at + length + 15 <= size; at += 16) {
        const __m128i starts = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
        const __m128i ends = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at + length - 1));
        auto candidates
            = unsigned(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(starts, first), _mm_cmpeq_epi8(ends, last))));
        while (candidates != 0) {
            const auto offset = size_t(__builtin_ctz(candidates));
            if (std::memcmp(text + at + offset + 1, needle.data() + 1, length - 2) == 0)
                return true;
            candidates &= candidates - 1;
        }
    }
#endif
    return memmem(text + at, size - at, needle.data(), length) != nullptr;
}

// Below this many meetings a search is not worth handing to other threads, nor below this much
// transcript to read.
constexpr qsizetype kParallelThreshold = 2000;
constexpr size_t kParallelBytes = 4 * 1024 * 1024;

} // namespace

MeetingSearchIndex::Query::Query(const QString& searchText)
    : m_lowered(searchText.toLower())
{
    m_searchable = appendUtf8(m_bytes, m_lowered) && m_bytes.find('\0') == std::string::npos;
    for (size_t i = 1; i < m_bytes.size(); ++i)
        m_pairs.push_back(Sketch::place(uchar(m_bytes[i - 1]), uchar(m_bytes[i])));
    std::sort(m_pairs.begin(), m_pairs.end());
    m_pairs.erase(std::unique(m_pairs.begin(), m_pairs.end()), m_pairs.end());
}

void MeetingSearchIndex::Sketch::add(const std::string& text)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = 0; i < text.size(); ++i) {
        m_bytes[bytes[i] >> 6] |= quint64(1) << (bytes[i] & 63);
        if (i > 0) {
            const quint16 at = place(bytes[i - 1], bytes[i]);
            m_bits[at >> 6] |= quint64(1) << (at & 63);
        }
    }
}

bool MeetingSearchIndex::Sketch::mayHold(const std::string& bytes, const std::vector<quint16>& pairs) const
{
    if (bytes.size() == 1) {
        const auto byte = uchar(bytes.front());
        return m_bytes[byte >> 6] >> (byte & 63) & 1;
    }
    for (const quint16 at : pairs) {
        if (!(m_bits[at >> 6] >> (at & 63) & 1))
            return false;
    }
    return true;
}

MeetingSearchIndex::MeetingSearchIndex(ModelContext& context, QObject* parent)
    : MeetingSearchIndex(context, Options {}, parent)
{ }

MeetingSearchIndex::MeetingSearchIndex(ModelContext& context, Options options, QObject* parent)
    : QObject(parent)
    , m_context(context)
    , m_options(std::move(options))
    , m_cancelled(std::make_shared<std::atomic_bool>(false))
{
    // Until ready, nothing is kept: the copy is assembled from the live records when the
    // worker's read comes back, so earlier changes need no bookkeeping.
    connect(&context, &ModelContext::meetingInserted, this, [this](Meeting* meeting) {
        if (!m_ready)
            return;
        Entry& entry = entryFor(meeting);
        copyHead(meeting, entry);
        copyTranscript(meeting, entry);
        emit meetingChanged(meeting);
    });
    connect(&context, &ModelContext::meetingAboutToBeRemoved, this,
        [this](Meeting* meeting) { m_entries.remove(meeting); });
    connect(&context, &ModelContext::meetingUpdated, this, [this](Meeting* meeting) {
        if (!m_ready)
            return;
        Entry& entry = entryFor(meeting);
        // Most writes (duration, folder, recording state) leave the searched text alone.
        if (entry.title == meeting->title() && entry.notes == meeting->userNotes())
            return;
        copyHead(meeting, entry);
        emit meetingChanged(meeting);
    });
    connect(&context, &ModelContext::transcriptChanged, this, [this](Meeting* meeting) {
        if (!m_ready)
            return;
        copyTranscript(meeting, entryFor(meeting));
        emit meetingChanged(meeting);
    });
}

MeetingSearchIndex::~MeetingSearchIndex()
{
    // The read ends at its next row; its result is dropped with this object.
    m_cancelled->store(true);
}

void MeetingSearchIndex::start()
{
    if (m_started)
        return;
    m_started = true;
    const QString filePath = m_context.filePath();
    // The copy travels behind a shared pointer: a QHash handed on by value would be shared, and
    // the first write to it here would copy every transcript on the main thread.
    // A watcher rather than .then(this, …): Qt 6.4's continuation asserts that its context is
    // still alive, and this object may go while the worker reads.
    auto* watcher = new QFutureWatcher<std::shared_ptr<StoredCopy>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        watcher->deleteLater();
        apply(*watcher->result());
    });
    watcher->setFuture(QtConcurrent::run([filePath, cancelled = m_cancelled, beforeRead = m_options.beforeRead] {
        if (beforeRead)
            beforeRead();
        return readFile(filePath, *cancelled);
    }));
}

std::shared_ptr<MeetingSearchIndex::StoredCopy> MeetingSearchIndex::readFile(
    const QString& filePath, const std::atomic_bool& cancelled)
{
    auto stored = std::make_shared<StoredCopy>();
    // Built in one reused buffer and copied out at its exact size: strings grown by appending
    // keep about half as much again in spare capacity.
    std::string buffer;
    qint64 current = 0;
    const auto flush = [&] {
        if (current != 0) {
            StoredMeeting& meeting = (*stored)[current];
            meeting.transcript = std::string(buffer);
            meeting.transcriptSketch.add(meeting.transcript);
        }
        buffer.clear();
    };
    StoreDatabase::TextReader reader;
    reader.meeting = [&](qint64 key, const QString& title, const QString& notes) {
        StoredMeeting& meeting = (*stored)[key];
        meeting.title = title;
        meeting.notes = notes;
        appendField(meeting.head, meeting.title);
        appendField(meeting.head, meeting.notes);
        meeting.head.shrink_to_fit();
    };
    reader.segment = [&](qint64 key, const QString& text) {
        if (key != current) {
            flush();
            current = key;
        }
        appendField(buffer, text);
    };
    StoreDatabase::readTexts(filePath, reader, cancelled);
    flush();
    return stored;
}

void MeetingSearchIndex::apply(StoredCopy& stored)
{
    const QList<Meeting*> meetings = m_context.fetchMeetings();
    m_entries.reserve(meetings.size());
    for (Meeting* meeting : meetings) {
        Entry& entry = entryFor(meeting);
        const qint64 key = m_context.storedKey(*meeting);
        const auto found = key != 0 ? stored.find(key) : stored.end();
        if (found != stored.end() && found->title == meeting->title() && found->notes == meeting->userNotes()) {
            entry.title = meeting->title();
            entry.notes = meeting->userNotes();
            entry.head = std::move(found->head);
        } else {
            copyHead(meeting, entry);
        }
        // A meeting whose segments were never opened cannot have changed them: the file is
        // its truth. An opened one may hold unsaved segments, or segments saved after the read.
        if (m_context.hasUnreadSegments(*meeting) && found != stored.end()) {
            entry.transcript = std::move(found->transcript);
            entry.transcriptSketch = found->transcriptSketch;
        } else
            copyTranscript(meeting, entry);
    }
    m_ready = true;
    emit ready();
}

MeetingSearchIndex::Entry& MeetingSearchIndex::entryFor(Meeting* meeting)
{
    return m_entries[meeting];
}

void MeetingSearchIndex::copyHead(Meeting* meeting, Entry& entry)
{
    entry.title = meeting->title();
    entry.notes = meeting->userNotes();
    entry.head.clear();
    appendField(entry.head, entry.title);
    appendField(entry.head, entry.notes);
    entry.head.shrink_to_fit();
}

void MeetingSearchIndex::copyTranscript(Meeting* meeting, Entry& entry)
{
    std::string transcript;
    for (const TranscriptSegment* segment : meeting->segments())
        appendField(transcript, segment->text());
    entry.transcript = std::move(transcript);
    entry.transcriptSketch = Sketch();
    entry.transcriptSketch.add(entry.transcript);
}

bool MeetingSearchIndex::entryMatches(const Entry& entry, const Query& query)
{
    return contains(entry.head, query.m_bytes)
        || (entry.transcriptSketch.mayHold(query.m_bytes, query.m_pairs)
            && (Sketch::isCertain(query.m_bytes) || contains(entry.transcript, query.m_bytes)));
}

bool MeetingSearchIndex::matchesPlainly(const Meeting& meeting, const QString& loweredQuery)
{
    if (meeting.title().toLower().contains(loweredQuery) || meeting.userNotes().toLower().contains(loweredQuery))
        return true;
    for (const TranscriptSegment* segment : meeting.segments()) {
        if (segment->text().toLower().contains(loweredQuery))
            return true;
    }
    return false;
}

bool MeetingSearchIndex::matches(const Meeting* meeting, const Query& query) const
{
    if (query.isEmpty())
        return true;
    if (!meeting)
        return false;
    const auto found = m_entries.constFind(meeting);
    if (!m_ready || !query.m_searchable || found == m_entries.constEnd())
        return matchesPlainly(*meeting, query.m_lowered);
    return entryMatches(*found, query);
}

QList<Meeting*> MeetingSearchIndex::filter(const QList<Meeting*>& meetings, const Query& query) const
{
    if (query.isEmpty())
        return meetings;
    const qsizetype count = meetings.size();
    std::vector<char> kept(size_t(count), 0);
    const auto test = [&](qsizetype from, qsizetype to) {
        for (qsizetype i = from; i < to; ++i)
            kept[size_t(i)] = matches(meetings.at(i), query);
    };
    // Only the copy may be read from other threads; the live records belong to this one.
    if (m_ready && query.m_searchable && count >= kParallelThreshold) {
        // Titles, notes and sketches are read here; only the transcripts that may hold the query
        // are searched, on other threads when there is much of them.
        std::vector<std::pair<qsizetype, const std::string*>> toRead;
        size_t bytes = 0;
        for (qsizetype i = 0; i < count; ++i) {
            const auto found = m_entries.constFind(meetings.at(i));
            if (found == m_entries.constEnd()) {
                // A meeting the copy does not know yet (none should be).
                kept[size_t(i)] = matchesPlainly(*meetings.at(i), query.m_lowered);
            } else if (contains(found->head, query.m_bytes)) {
                kept[size_t(i)] = 1;
            } else if (!found->transcriptSketch.mayHold(query.m_bytes, query.m_pairs)) {
                continue;
            } else if (Sketch::isCertain(query.m_bytes)) {
                kept[size_t(i)] = 1;
            } else {
                toRead.emplace_back(i, &found->transcript);
                bytes += found->transcript.size();
            }
        }
        const auto read = [&](size_t from, size_t to) {
            for (size_t j = from; j < to; ++j)
                kept[size_t(toRead[j].first)] = contains(*toRead[j].second, query.m_bytes);
        };
        if (bytes < kParallelBytes) {
            read(0, toRead.size());
        } else {
            const size_t parts = size_t(qMax(1, QThread::idealThreadCount()));
            QList<std::pair<size_t, size_t>> ranges;
            for (size_t part = 0; part < parts; ++part)
                ranges.append({ toRead.size() * part / parts, toRead.size() * (part + 1) / parts });
            QtConcurrent::blockingMap(
                ranges, [&](const std::pair<size_t, size_t>& range) { read(range.first, range.second); });
        }
    } else {
        test(0, count);
    }
    QList<Meeting*> result;
    for (qsizetype i = 0; i < count; ++i) {
        if (kept[size_t(i)])
            result.append(meetings.at(i));
    }
    return result;
}
