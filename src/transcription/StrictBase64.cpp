#include "transcription/StrictBase64.h"

#include <array>

namespace StrictBase64 {

namespace {

constexpr quint8 kInvalid = 0xFF;

constexpr std::array<quint8, 256> makeTable()
{
    std::array<quint8, 256> table {};
    for (auto& entry : table)
        entry = kInvalid;
    const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (quint8 i = 0; i < 64; ++i)
        table[quint8(alphabet[i])] = i;
    return table;
}

constexpr std::array<quint8, 256> kTable = makeTable();

} // namespace

std::optional<QByteArray> decode(QByteArrayView text)
{
    const qsizetype length = text.size();
    if (length % 4 != 0)
        return std::nullopt;
    if (length == 0)
        return QByteArray();
    const auto* in = reinterpret_cast<const quint8*>(text.data());
    const int padding = in[length - 1] == '=' ? (in[length - 2] == '=' ? 2 : 1) : 0;

    QByteArray out(length / 4 * 3 - padding, Qt::Uninitialized);
    auto* dst = reinterpret_cast<quint8*>(out.data());
    const qsizetype fullGroups = length / 4 - (padding ? 1 : 0);
    quint8 invalid = 0;
    for (qsizetype g = 0; g < fullGroups; ++g, in += 4, dst += 3) {
        const quint8 a = kTable[in[0]];
        const quint8 b = kTable[in[1]];
        const quint8 c = kTable[in[2]];
        const quint8 d = kTable[in[3]];
        invalid |= (a | b | c | d) & 0x80;
        dst[0] = quint8((a << 2) | (b >> 4));
        dst[1] = quint8((b << 4) | (c >> 2));
        dst[2] = quint8((c << 6) | d);
    }
    if (padding) {
        const quint8 a = kTable[in[0]];
        const quint8 b = kTable[in[1]];
        const quint8 c = padding == 1 ? kTable[in[2]] : 0;
        invalid |= (a | b | c) & 0x80;
        dst[0] = quint8((a << 2) | (b >> 4));
        if (padding == 1)
            dst[1] = quint8((b << 4) | (c >> 2));
    }
    if (invalid)
        return std::nullopt;
    return out;
}

} // namespace StrictBase64
