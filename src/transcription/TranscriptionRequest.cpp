#include "transcription/TranscriptionRequest.h"

#include <QUuid>
#include <QtEndian>

namespace TranscriptionRequest {

namespace {

void appendUInt32(QByteArray& out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

void appendUInt16(QByteArray& out, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

void appendField(QByteArray& out, const QByteArray& boundary, const char* name, const QString& value)
{
    out += "--" + boundary + "\r\n";
    out += "Content-Disposition: form-data; name=\"";
    out += name;
    out += "\"\r\n\r\n";
    out += value.toUtf8();
    out += "\r\n";
}

} // namespace

QByteArray wavFile(const QByteArray& pcm16, int sampleRate)
{
    const auto dataSize = quint32(pcm16.size());
    QByteArray out;
    out.reserve(44 + pcm16.size());
    out += "RIFF";
    appendUInt32(out, 36 + dataSize);
    out += "WAVE";
    out += "fmt ";
    appendUInt32(out, 16);
    appendUInt16(out, 1); // integer PCM
    appendUInt16(out, 1); // mono
    appendUInt32(out, quint32(sampleRate));
    appendUInt32(out, quint32(sampleRate) * 2);
    appendUInt16(out, 2);
    appendUInt16(out, 16);
    out += "data";
    appendUInt32(out, dataSize);
    out += pcm16;
    return out;
}

QString newBoundary()
{
    return QStringLiteral("quillet-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QUrl endpoint(const QUrl& baseUrl)
{
    QUrl url = baseUrl;
    QString path = url.path(QUrl::FullyEncoded);
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path + QStringLiteral("v1/audio/transcriptions"), QUrl::TolerantMode);
    return url;
}

QByteArray multipartBody(const QString& boundary, const Fields& fields, const QByteArray& wav)
{
    const QByteArray b = boundary.toUtf8();
    QByteArray out;
    out.reserve(wav.size() + 1024 + fields.prompt.size() * 3);
    appendField(out, b, "model", QString::fromLatin1(model));
    if (!fields.prompt.isEmpty())
        appendField(out, b, "prompt", fields.prompt);
    if (fields.language && !fields.language->isEmpty())
        appendField(out, b, "language", *fields.language);
    appendField(out, b, "response_format", QStringLiteral("verbose_json"));
    appendField(out, b, "temperature", QStringLiteral("0"));
    out += "--" + b + "\r\n";
    out += "Content-Disposition: form-data; name=\"file\"; filename=\"utterance.wav\"\r\n";
    out += "Content-Type: audio/wav\r\n\r\n";
    out += wav;
    out += "\r\n--" + b + "--\r\n";
    return out;
}

} // namespace TranscriptionRequest
