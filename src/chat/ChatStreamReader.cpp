#include "chat/ChatStreamReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

} // namespace

ChatStreamReader::Step ChatStreamReader::feed(QByteArrayView bytes)
{
    Step step;
    if (m_done)
        return step;
    // Lines are cut from the new bytes alone: what is pending holds no line break, so a long
    // line is never searched again from its start.
    qsizetype start = 0;
    for (qsizetype end = bytes.indexOf('\n'); end >= 0 && !step.done; end = bytes.indexOf('\n', start)) {
        const QByteArrayView rest = bytes.sliced(start, end - start);
        if (m_pending.size() + rest.size() > kMaxLineBytes)
            return refuseLine();
        if (m_pending.isEmpty()) {
            takeLine(rest, step);
        } else {
            m_pending.append(rest.data(), rest.size());
            takeLine(std::exchange(m_pending, QByteArray()), step);
        }
        start = end + 1;
    }
    if (step.done) {
        m_pending.clear();
        return step;
    }
    if (m_pending.size() + (bytes.size() - start) > kMaxLineBytes)
        return refuseLine();
    m_pending.append(bytes.data() + start, bytes.size() - start);
    return step;
}

ChatStreamReader::Step ChatStreamReader::refuseLine()
{
    m_pending.clear();
    m_done = true;
    Step step;
    step.tooLong = true;
    return step;
}

ChatStreamReader::Step ChatStreamReader::finish()
{
    Step step;
    if (!m_done && !m_pending.isEmpty())
        takeLine(m_pending, step);
    m_pending.clear();
    m_done = true;
    return step;
}

void ChatStreamReader::takeLine(QByteArrayView line, Step& step)
{
    if (line.endsWith('\r'))
        line.chop(1);
    bool done = false;
    if (std::optional<QString> fragment = fragmentOf(QString::fromUtf8(line), &done))
        step.fragments << *fragment;
    if (done) {
        step.done = true;
        m_done = true;
    }
}

std::optional<QString> ChatStreamReader::fragmentOf(const QString& line, bool* done)
{
    if (!line.startsWith(QLatin1String("data:")))
        return std::nullopt;
    qsizetype begin = 5;
    qsizetype end = line.size();
    while (begin < end && isBlank(line.at(begin)))
        ++begin;
    while (end > begin && isBlank(line.at(end - 1)))
        --end;
    const QStringView data = QStringView(line).sliced(begin, end - begin);
    if (data == u"[DONE]") {
        *done = true;
        return std::nullopt;
    }
    const QJsonDocument document = QJsonDocument::fromJson(data.toUtf8());
    if (!document.isObject())
        return std::nullopt;
    const QJsonValue choices = document.object().value(QStringLiteral("choices"));
    if (!choices.isArray() || choices.toArray().isEmpty())
        return std::nullopt;
    const QJsonValue delta = choices.toArray().first().toObject().value(QStringLiteral("delta"));
    const QJsonValue content = delta.toObject().value(QStringLiteral("content"));
    if (!delta.isObject() || !content.isString() || content.toString().isEmpty())
        return std::nullopt;
    return content.toString();
}
