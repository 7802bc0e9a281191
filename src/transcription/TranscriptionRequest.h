#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <optional>

// The speech-to-text request, byte for byte. The multipart body is written by hand because
// the service is sensitive to part headers and field order, and Qt's multipart class adds
// headers and picks boundaries of its own.
namespace TranscriptionRequest {

inline constexpr const char* model = "whisper-v3-turbo";

// A canonical 44-byte RIFF/WAVE header (16-bit mono PCM) followed by the samples as given.
QByteArray wavFile(const QByteArray& pcm16, int sampleRate);

// "quillet-" and a fresh upper-case UUID; every attempt gets its own.
QString newBoundary();

// <base>/v1/audio/transcriptions, keeping every path segment of the base.
QUrl endpoint(const QUrl& baseUrl);

struct Fields
{
    QString prompt; // sent only when not empty
    std::optional<QString> language; // sent only when present and not empty
};

QByteArray multipartBody(const QString& boundary, const Fields& fields, const QByteArray& wav);

} // namespace TranscriptionRequest
