#pragma once

#include <QByteArray>
#include <QtEndian>

namespace WavFile {

// The canonical 44-byte RIFF/WAVE header of 16-bit mono PCM followed by dataBytes of samples.
inline QByteArray monoPcm16Header(quint32 dataBytes, quint32 sampleRate)
{
    QByteArray header;
    header.reserve(44);
    const auto append32 = [&header](quint32 value) {
        char bytes[4];
        qToLittleEndian(value, bytes);
        header.append(bytes, 4);
    };
    const auto append16 = [&header](quint16 value) {
        char bytes[2];
        qToLittleEndian(value, bytes);
        header.append(bytes, 2);
    };
    header.append("RIFF", 4);
    append32(36 + dataBytes);
    header.append("WAVEfmt ", 8);
    append32(16);
    append16(1); // integer PCM
    append16(1); // mono
    append32(sampleRate);
    append32(sampleRate * 2); // bytes per second
    append16(2); // bytes per frame
    append16(16); // bits per sample
    header.append("data", 4);
    append32(dataBytes);
    return header;
}

} // namespace WavFile
