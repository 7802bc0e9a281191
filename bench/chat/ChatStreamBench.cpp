// Prints how long the chat stream reader takes for a line at its 1 MB limit handed over in
// pieces of a few bytes (as a slow connection delivers it), and for an answer of 20,000
// events in pieces of 1 KB.
// Usage: bench_chat_stream [pieceBytes]

#include "chat/ChatStreamReader.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <cstdio>

namespace {

double feedAll(const QByteArray& stream, qsizetype pieceBytes, qsizetype* fragments)
{
    ChatStreamReader reader;
    QElapsedTimer timer;
    timer.start();
    for (qsizetype at = 0; at < stream.size(); at += pieceBytes)
        *fragments += reader.feed(QByteArrayView(stream).sliced(at, std::min(pieceBytes, stream.size() - at)))
                          .fragments.size();
    *fragments += reader.finish().fragments.size();
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    const qsizetype pieceBytes = argc > 1 ? std::max(1, atoi(argv[1])) : 16;

    const QByteArray prefix = R"(data: {"choices":[{"delta":{"content":")";
    const QByteArray suffix = R"("}}]})";
    const QByteArray longLine
        = prefix + QByteArray(ChatStreamReader::kMaxLineBytes - prefix.size() - suffix.size(), 'y') + suffix + '\n';
    qsizetype fragments = 0;
    const double longMs = feedAll(longLine, pieceBytes, &fragments);
    std::printf("one 1 MB line in %lld-byte pieces: %.1f ms (%lld fragment)\n", static_cast<long long>(pieceBytes),
        longMs, static_cast<long long>(fragments));

    QByteArray answer;
    for (int i = 0; i < 20000; ++i)
        answer += prefix + "word " + QByteArray::number(i) + suffix + "\n\n";
    fragments = 0;
    const double answerMs = feedAll(answer, 1024, &fragments);
    std::printf("20,000 events (%.1f MB) in 1 KB pieces: %.1f ms (%lld fragments)\n", double(answer.size()) / 1e6,
        answerMs, static_cast<long long>(fragments));
    return 0;
}
