// libFuzzer entry for the archive import's file parser: any bytes the importer would accept
// as UTF-8 go through the parser, which must neither crash nor break its own guarantees.

#include "archive/ArchiveFileParser.h"

#include <QByteArray>
#include <QStringDecoder>
#include <cmath>
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
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QStringDecoder decoder(QStringConverter::Utf8);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return 0; // the importer skips files that are not UTF-8

    const auto file = ArchiveFileParser::parse(text);
    if (!file)
        return 0;
    check(std::isfinite(file->duration));
    check(!file->date || file->date->isValid());
    if (file->summary) {
        check(!file->summary->isEmpty());
        check(*file->summary == file->summary->trimmed());
    }
    check(file->notes == file->notes.trimmed());
    for (const auto& turn : file->turns) {
        check(std::isfinite(turn.timestamp));
        // A turn's text may hold line breaks (its further lines); a speaker's name never does.
        check(!turn.label.contains(u'\n'));
    }
    return 0;
}
