#include "storage/StoredText.h"

#include <QByteArrayView>
#include <QtEndian>

namespace StoredText {

namespace {

bool isSurrogate(char16_t unit)
{
    return (unit & 0xF800) == 0xD800;
}

// Whether any unit is half of a surrogate pair, in blocks without a branch per unit, since
// most texts hold none and a key in long notes checks them all.
bool holdsSurrogates(QStringView text)
{
    const char16_t* unit = text.utf16();
    const char16_t* end = unit + text.size();
    while (end - unit >= 64) {
        unsigned found = 0;
        for (int i = 0; i < 64; ++i)
            found |= unsigned(isSurrogate(unit[i]));
        if (found)
            return true;
        unit += 64;
    }
    for (; unit < end; ++unit) {
        if (isSurrogate(*unit))
            return true;
    }
    return false;
}

// SQLite's own reading of UTF-8 into UTF-16, which is how every text was read before: a lead
// byte takes every continuation byte after it, a stray continuation byte stands for itself,
// and an encoded surrogate or an overlong form reads as U+FFFD. U+FFFE and U+FFFF now read as
// themselves.
QString decodeAsSQLiteDid(QByteArrayView bytes)
{
    QString text;
    text.reserve(bytes.size());
    const auto* byte = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = byte + bytes.size();
    while (byte < end) {
        char32_t c = *byte++;
        if (c >= 0xC0) {
            c = c < 0xE0   ? (c & 0x1F)
                : c < 0xF0 ? (c & 0x0F)
                : c < 0xF8 ? (c & 0x07)
                : c < 0xFC ? (c & 0x03)
                : c < 0xFE ? (c & 0x01)
                           : 0;
            while (byte < end && (*byte & 0xC0) == 0x80)
                c = (c << 6) + (*byte++ & 0x3F);
            if (c < 0x80 || (c & 0xFFFFF800) == 0xD800)
                c = 0xFFFD;
        }
        if (c <= 0xFFFF) {
            text.append(QChar(char16_t(c)));
        } else {
            const char32_t above = c - 0x10000;
            text.append(
                QChar(char16_t(0xD800 | ((above >> 18) & 0x03) << 8 | ((above >> 10) & 0xC0) | ((c >> 10) & 0x3F))));
            text.append(QChar(char16_t(0xDC00 | ((c >> 8) & 0x03) << 8 | (c & 0xFF))));
        }
    }
    return text;
}

QString fromUtf16Bytes(const QByteArray& bytes, bool bigEndian)
{
    QString text(bytes.size() / 2, Qt::Uninitialized);
    if (bigEndian)
        qFromBigEndian<char16_t>(bytes.constData(), text.size(), text.data());
    else
        qFromLittleEndian<char16_t>(bytes.constData(), text.size(), text.data());
    return text;
}

} // namespace

std::optional<Encoding> encodingNamed(const QString& pragmaValue)
{
    if (pragmaValue.compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) == 0)
        return Encoding::Utf8;
    if (pragmaValue.compare(QLatin1String("UTF-16le"), Qt::CaseInsensitive) == 0)
        return Encoding::Utf16le;
    if (pragmaValue.compare(QLatin1String("UTF-16be"), Qt::CaseInsensitive) == 0)
        return Encoding::Utf16be;
    return std::nullopt;
}

QByteArray encode(const QString& text)
{
    QByteArray bytes = text.toUtf8();
    return bytes.isNull() ? QByteArray("") : bytes;
}

QString decode(const QByteArray& bytes, Encoding encoding)
{
    if (encoding != Encoding::Utf8)
        return fromUtf16Bytes(bytes, encoding == Encoding::Utf16be);
    if (!QByteArrayView(bytes).isValidUtf8())
        return decodeAsSQLiteDid(bytes);
    // fromUtf8 drops one leading byte-order mark, which is the text's own character here.
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QChar(QChar::ByteOrderMark) + QString::fromUtf8(bytes);
    return QString::fromUtf8(bytes);
}

QString wellFormed(const QString& text)
{
    if (!holdsSurrogates(text))
        return text;
    QString formed = text;
    for (qsizetype i = 0; i < formed.size(); ++i) {
        const char16_t unit = formed.at(i).unicode();
        if (!isSurrogate(unit))
            continue;
        const bool pairs = QChar::isHighSurrogate(unit) && i + 1 < formed.size() && formed.at(i + 1).isLowSurrogate();
        if (pairs)
            ++i;
        else
            formed[i] = QChar::ReplacementCharacter;
    }
    return formed;
}

std::optional<QString> wellFormed(const std::optional<QString>& text)
{
    return text ? std::optional<QString>(wellFormed(*text)) : std::nullopt;
}

QStringList wellFormed(const QStringList& texts)
{
    QStringList formed = texts;
    for (QString& text : formed) {
        if (holdsSurrogates(text))
            text = wellFormed(text);
    }
    return formed;
}

} // namespace StoredText
