#include "transcription/TranscriptionReply.h"

#include "platform/Log.h"
#include "transcription/TranscriptText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <array>

namespace TranscriptionReply {

namespace {

constexpr qsizetype kMaxBlockableCharacters = 119;
constexpr qsizetype kLoggedCharacters = 50;

// Precomposed, lower case; Vietnamese first.
const std::array<QString, 16>& blocklist()
{
    static const std::array<QString, 16> phrases = [] {
        const char* const utf8[] = {
            "hãy subscribe cho kênh",
            "đăng ký kênh",
            "ghiền mì gõ",
            "cảm ơn các bạn đã theo dõi",
            "cảm ơn các bạn đã xem",
            "cảm ơn quý vị đã theo dõi",
            "hẹn gặp lại các bạn",
            "chúc các bạn xem video vui vẻ",
            "nhớ like và",
            "like và đăng ký",
            "không bỏ lỡ những video hấp dẫn",
            "thanks for watching",
            "thank you for watching",
            "please subscribe",
            "don't forget to subscribe",
            "see you in the next video",
        };
        std::array<QString, 16> out;
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = QString::fromUtf8(utf8[i]).normalized(QString::NormalizationForm_C);
        return out;
    }();
    return phrases;
}

bool shouldDropSegment(const QJsonObject& segment, const QString& text)
{
    const QString logged = TranscriptText::prefix(text, kLoggedCharacters);
    const QJsonValue noSpeech = segment.value(QLatin1String("no_speech_prob"));
    if (noSpeech.isDouble() && noSpeech.toDouble() > noSpeechThreshold) {
        Log::line("[Quillet] Dropped segment (no_speech_prob %.2f): %@", noSpeech.toDouble(), logged);
        return true;
    }
    const QJsonValue logprob = segment.value(QLatin1String("avg_logprob"));
    if (logprob.isDouble() && logprob.toDouble() < logprobThreshold) {
        Log::line("[Quillet] Dropped segment (avg_logprob %.2f): %@", logprob.toDouble(), logged);
        return true;
    }
    const QJsonValue compression = segment.value(QLatin1String("compression_ratio"));
    if (compression.isDouble() && compression.toDouble() > compressionRatioThreshold) {
        Log::line("[Quillet] Dropped segment (compression %.2f): %@", compression.toDouble(), logged);
        return true;
    }
    if (matchesHallucinationBlocklist(text)) {
        Log::line("[Quillet] Dropped segment (blocklist): %@", logged);
        return true;
    }
    return false;
}

TessraError badResponse(const QString& description)
{
    return TessraError { TessraError::Kind::BadResponse, description, {} };
}

} // namespace

bool matchesHallucinationBlocklist(const QString& text)
{
    const QString lowered = TranscriptText::folded(text);
    if (TranscriptText::characterCount(lowered) > kMaxBlockableCharacters)
        return false;
    for (const QString& phrase : blocklist()) {
        if (lowered.contains(phrase))
            return true;
    }
    return false;
}

std::optional<QString> errorMessage(const QByteArray& body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    const QJsonValue error = root.value(QLatin1String("error"));
    if (error.isObject()) {
        const QJsonValue message = error.toObject().value(QLatin1String("message"));
        if (message.isString())
            return message.toString();
    }
    const QJsonValue message = root.value(QLatin1String("message"));
    if (message.isString())
        return message.toString();
    return std::nullopt;
}

Result<QString, TessraError> read(int httpStatus, const QByteArray& body, ModelCredentials::Kind credential)
{
    if (httpStatus != 200) {
        if (std::optional<QString> message = errorMessage(body))
            return badResponse(*message);
        const QString status = QStringLiteral("HTTP %1").arg(httpStatus);
        // A bare refusal of the credentials says nothing to a user as a number.
        if (httpStatus == 401 || httpStatus == 403)
            return TessraError { TessraError::Kind::BadResponse, ModelCredentials::refusedText(credential), status };
        return badResponse(status);
    }
    const QJsonDocument document = QJsonDocument::fromJson(body);
    const QJsonValue text = document.isObject() ? document.object().value(QLatin1String("text")) : QJsonValue();
    if (!text.isString())
        return badResponse(QStringLiteral("Malformed transcription response"));

    const QJsonValue segmentsValue = document.object().value(QLatin1String("segments"));
    const QJsonArray segments = segmentsValue.toArray();
    const bool allObjects
        = std::all_of(segments.begin(), segments.end(), [](const QJsonValue& segment) { return segment.isObject(); });
    if (!segmentsValue.isArray() || segments.isEmpty() || !allObjects) {
        const QString whole = text.toString();
        return matchesHallucinationBlocklist(whole) ? QString() : whole;
    }

    QStringList kept;
    for (const QJsonValue& value : segments) {
        const QJsonObject segment = value.toObject();
        const QJsonValue segmentText = segment.value(QLatin1String("text"));
        if (!segmentText.isString())
            continue;
        const QString trimmed = segmentText.toString().trimmed();
        if (trimmed.isEmpty() || shouldDropSegment(segment, trimmed))
            continue;
        kept.append(trimmed);
    }
    return kept.join(QLatin1Char(' '));
}

} // namespace TranscriptionReply
