// libFuzzer entry for the inline markup of model text: any line, read at once and read as it
// grows in pieces, must give the same runs, and neither may crash.

#include "markdown/InlineRuns.h"

#include <QByteArray>
#include <QStringDecoder>
#include <cstddef>
#include <cstdint>

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte is the size of the pieces the line streams in.
    const qsizetype piece = 1 + data[0] % 24;
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    QStringDecoder decoder(QStringConverter::Utf8);
    const QString line = decoder.decode(bytes);
    if (decoder.hasError() || line.isEmpty() || line.size() > 4096)
        return 0;

    InlineRuns grown(line.left(piece));
    for (qsizetype at = piece; at < line.size(); at += piece) {
        grown.append(QStringView(line).mid(at, piece));
        if (line.size() <= 128)
            check(grown.runs() == InlineRun::parse(line.left(at + piece)));
    }
    const QList<InlineRun> whole = InlineRun::parse(line);
    check(grown.runs() == whole);
    for (const InlineRun& run : whole)
        check(!run.text.isEmpty());
    return 0;
}
