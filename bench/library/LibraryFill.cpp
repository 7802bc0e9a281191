#include "LibraryFill.h"

#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <cmath>
#include <cstdio>

namespace {

const QStringList& frequentWords()
{
    static const QStringList words = QStringLiteral(
        "the we should ship release next week and review numbers with finance first okay so I think that "
        "is a good point but maybe later can you send me it by Friday yes no right customer budget plan "
        "meeting team product launch timeline design feedback issue question answer follow up action item "
        "deadline scope risk data users growth revenue cost hiring sprint demo roadmap quarter goal metric "
        "dashboard report update status blocked done today tomorrow morning afternoon call email doc slide "
        "deck draft final version change request approve agree disagree discuss decide option idea test "
        "bug fix deploy server client mobile web app feature priority high low medium estimate week month")
                                         .split(QLatin1Char(' '));
    return words;
}

const QStringList& vietnameseWords()
{
    static const QStringList words = QStringLiteral(
        "được người không nhưng cuộc họp dự án khách hàng tuần sau ngân sách kế hoạch đội ngũ sản phẩm "
        "ra mắt thời gian thiết kế phản hồi vấn đề câu hỏi trả lời hành động hạn chót phạm vi rủi ro dữ liệu "
        "người dùng tăng trưởng doanh thu chi phí tuyển dụng báo cáo cập nhật trạng thái hôm nay ngày mai "
        "buổi sáng buổi chiều chúng ta nên vậy thì đồng ý quyết định ý tưởng kiểm thử lỗi sửa triển khai "
        "ưu tiên ước tính tháng quý mục tiêu chỉ số Hà Nội Sài Gòn Đà Nẵng")
                                         .split(QLatin1Char(' '));
    return words;
}

const QStringList& capitalisedWords()
{
    static const QStringList words = QStringLiteral(
        "Linh Minh Anh Trang Quang Nguyễn Trần Lê Phạm Hoàng Sarah David Maria Tom Berlin London Tokyo "
        "Quillet Tessra Monday Tuesday Wednesday Thursday Friday API KPI OKR CRM SQL iOS Android Q3 Q4")
                                         .split(QLatin1Char(' '));
    return words;
}

// Made-up words of two to four syllables, a few thousand of them.
QStringList rareWords(QRandomGenerator& random, int count)
{
    static const char* const onsets[] = { "b", "br", "c", "ch", "d", "dr", "f", "g", "gr", "h", "j", "k", "l", "m", "n",
        "p", "pl", "qu", "r", "s", "st", "t", "tr", "v", "w", "z" };
    static const char* const nuclei[] = { "a", "e", "i", "o", "u", "ai", "ea", "ou", "y" };
    static const char* const codas[] = { "", "", "n", "r", "s", "t", "l", "m", "x" };
    QStringList words;
    words.reserve(count);
    while (words.size() < count) {
        QString word;
        const int syllables = 2 + random.bounded(3);
        for (int s = 0; s < syllables; ++s) {
            word += QLatin1String(onsets[random.bounded(int(std::size(onsets)))]);
            word += QLatin1String(nuclei[random.bounded(int(std::size(nuclei)))]);
            word += QLatin1String(codas[random.bounded(int(std::size(codas)))]);
        }
        words.append(word);
    }
    return words;
}

class TextMaker
{
public:
    explicit TextMaker(QRandomGenerator& random)
        : m_random(random)
        , m_rare(rareWords(random, 6000))
    { }

    QString word()
    {
        const int pick = m_random.bounded(100);
        if (pick < 62)
            return zipf(frequentWords());
        if (pick < 80)
            return zipf(vietnameseWords());
        if (pick < 86)
            return capitalisedWords().at(m_random.bounded(int(capitalisedWords().size())));
        return zipf(m_rare);
    }

    // About `length` characters: words, a capital at the start, a full stop at the end.
    QString sentence(int length)
    {
        QString text;
        while (text.size() < length)
            text += word() + QLatin1Char(' ');
        text = text.trimmed();
        if (!text.isEmpty())
            text[0] = text[0].toUpper();
        return text + QLatin1Char(m_random.bounded(5) == 0 ? '?' : '.');
    }

private:
    // Early words of the list are much more frequent than late ones.
    const QString& zipf(const QStringList& words)
    {
        const double u = m_random.generateDouble();
        const int index = int(std::pow(u, 3.0) * words.size());
        return words.at(std::min(index, int(words.size()) - 1));
    }

    QRandomGenerator& m_random;
    QStringList m_rare;
};

} // namespace

bool fillLibrary(const QString& path, const LibrarySpec& spec, FilledLibrary* filled)
{
    QRandomGenerator random(20260314);
    TextMaker text(random);
    FilledLibrary result;
    result.meetings = spec.meetings;
    result.segments = spec.meetings * spec.segmentsPerMeeting;
    result.commonWords = { QStringLiteral("the"), QStringLiteral("okay"), QStringLiteral("meeting"),
        QStringLiteral("được"), QStringLiteral("budget") };
    result.absentWords = { QStringLiteral("xylophonequartz"), QStringLiteral("zzyzx"), QStringLiteral("ngườiq"),
        QStringLiteral("BUDGETARIANISM") };

    // Each marker goes into one chosen segment.
    QHash<qint64, QString> markerAt;
    for (int m = 0; m < spec.markers && spec.segmentsPerMeeting > 0; ++m) {
        LibraryMarker marker { QStringLiteral("kestrel%1mark").arg(m, 4, 10, QLatin1Char('0')),
            int(random.bounded(spec.meetings)), int(random.bounded(spec.segmentsPerMeeting)) };
        const qint64 key = qint64(marker.meeting) * spec.segmentsPerMeeting + marker.segment;
        if (markerAt.contains(key))
            continue;
        markerAt.insert(key, marker.word);
        result.markers.append(marker);
    }

    const QString name = QStringLiteral("bench-library-fill");
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        ok = db.open() && db.transaction();
        QSqlQuery folder(db);
        QSqlQuery meeting(db);
        QSqlQuery segment(db);
        ok = ok
            && folder.prepare(
                QStringLiteral("INSERT INTO Folder (id, name, icon, detail, createdAt) VALUES (?, ?, ?, ?, ?)"))
            && meeting.prepare(QStringLiteral("INSERT INTO Meeting (id, title, summary, userNotes, date, duration, "
                                              "source, folder) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"))
            && segment.prepare(QStringLiteral("INSERT INTO TranscriptSegment (id, text, speakerRaw, timestamp, "
                                              "isFinal, meeting) VALUES (?, ?, ?, ?, 1, ?)"));
        static const char* const icons[] = { "folder", "briefcase", "person.2", "star", "tag", "calendar" };
        QList<qint64> folderKeys;
        const qint64 created = spec.newest.addYears(-3).toMSecsSinceEpoch();
        for (int f = 0; ok && f < spec.folders; ++f) {
            folder.bindValue(0, QUuid::createUuid().toString(QUuid::WithoutBraces));
            folder.bindValue(1, text.sentence(8 + random.bounded(14)).chopped(1));
            folder.bindValue(2, QLatin1String(icons[f % std::size(icons)]));
            folder.bindValue(3, f % 2 ? text.sentence(50) : QString(QLatin1String("")));
            folder.bindValue(4, created + f * 1000);
            ok = folder.exec();
            folderKeys.append(folder.lastInsertId().toLongLong());
        }

        // Newest first in time: a few today, some yesterday and this week, the rest spread back.
        const qint64 newest = spec.newest.toMSecsSinceEpoch() - 10 * 60'000;
        const qint64 span = qint64(3) * 365 * 86'400'000;
        for (int m = 0; ok && m < spec.meetings; ++m) {
            const double age = std::pow(double(m) / std::max(spec.meetings, 1), 1.6);
            const qint64 date = newest - qint64(age * double(span)) - random.bounded(3'600'000);
            meeting.bindValue(0, QUuid::createUuid().toString(QUuid::WithoutBraces));
            // Titles: mostly short, some long enough to take two lines on a card, a few empty.
            const int titleLength = random.bounded(20) == 0 ? 0 : random.bounded(8) == 0 ? 90 : 12 + random.bounded(30);
            meeting.bindValue(1, titleLength == 0 ? QString(QLatin1String("")) : text.sentence(titleLength).chopped(1));
            meeting.bindValue(2, random.bounded(3) == 0 ? QVariant() : QVariant(text.sentence(300)));
            meeting.bindValue(3, random.bounded(4) == 0 ? text.sentence(200) : QString(QLatin1String("")));
            meeting.bindValue(4, date);
            meeting.bindValue(5, double(random.bounded(7200)));
            meeting.bindValue(6, QStringLiteral("quick-note"));
            meeting.bindValue(7,
                folderKeys.isEmpty() || random.bounded(3) != 0
                    ? QVariant()
                    : QVariant(folderKeys.at(random.bounded(int(folderKeys.size())))));
            ok = meeting.exec();
            const qint64 meetingKey = meeting.lastInsertId().toLongLong();
            for (int s = 0; ok && s < spec.segmentsPerMeeting; ++s) {
                QString line = text.sentence(80 + random.bounded(60));
                const auto marker = markerAt.constFind(qint64(m) * spec.segmentsPerMeeting + s);
                if (marker != markerAt.constEnd())
                    line.insert(line.indexOf(QLatin1Char(' ')) + 1, *marker + QLatin1Char(' '));
                result.textBytes += line.toUtf8().size();
                segment.bindValue(0, QUuid::createUuid().toString(QUuid::WithoutBraces));
                segment.bindValue(1, line);
                segment.bindValue(2, s % 2 ? QStringLiteral("Them") : QStringLiteral("Me"));
                segment.bindValue(3, s * 6.5);
                segment.bindValue(4, meetingKey);
                ok = segment.exec();
            }
        }
        if (!ok)
            std::fprintf(stderr, "fill failed: %s %s %s\n", qPrintable(folder.lastError().text()),
                qPrintable(meeting.lastError().text()), qPrintable(segment.lastError().text()));
        ok = ok && db.commit();
        folder.finish();
        meeting.finish();
        segment.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (filled)
        *filled = std::move(result);
    return ok;
}
