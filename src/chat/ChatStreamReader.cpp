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
    m_pending.append(bytes.data(), bytes.size());
    qsizetype start = 0;
    for (qsizetype end = m_pending.indexOf('\n', start); end >= 0 && !step.done; end = m_pending.indexOf('\n', start)) {
        takeLine(QByteArrayView(m_pending).sliced(start, end - start), step);
        start = end + 1;
    }
    if (step.done)
        m_pending.clear();
    else
        m_pending.remove(0, start);
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
