#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <optional>

// Reads a streamed chat answer (server-sent events) as it arrives in arbitrary pieces.
// Bytes are kept until a line is complete, so a character split across network reads is
// decoded whole. Only "data:" lines count; "[DONE]" ends the answer; event data that is not a
// chat-completion chunk with text is skipped.
class ChatStreamReader final
{
public:
    struct Step
    {
        QStringList fragments; // answer text, in order, never empty strings
        bool done = false; // "[DONE]" was seen: nothing after it is read
        bool tooLong = false; // a line passed kMaxLineBytes: the reply cannot be read
    };

    // No real event comes near this; a longer line is refused rather than kept.
    static constexpr qsizetype kMaxLineBytes = 1024 * 1024;

    // Takes the next piece of the reply body.
    Step feed(QByteArrayView bytes);
    // The body has ended: a last line without a line break still counts.
    Step finish();

    // The answer fragment of one complete line, or nothing; sets *done on "[DONE]".
    static std::optional<QString> fragmentOf(const QString& line, bool* done);

private:
    void takeLine(QByteArrayView line, Step& step);
    Step refuseLine();

    QByteArray m_pending; // the start of a line whose end has not come yet
    bool m_done = false;
};
