#include "transcription/TranscriptionRequest.h"

#include "account/UrlPath.h"
#include "audio/WavFile.h"

#include <QUuid>

namespace TranscriptionRequest {

namespace {

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
    QByteArray out = WavFile::monoPcm16Header(quint32(pcm16.size()), quint32(sampleRate));
    out += pcm16;
    return out;
}

QString newBoundary()
{
    return QStringLiteral("quillet-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QUrl endpoint(const QUrl& baseUrl)
{
    return appendingPath(baseUrl, QStringLiteral("v1/audio/transcriptions"));
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
