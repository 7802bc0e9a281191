#pragma once

#include "account/ModelCredentials.h"
#include "format/Result.h"

#include <QByteArray>
#include <QString>
#include <optional>

// Why an utterance's text could not be had; `description` is what the user is shown.
struct TessraError
{
    enum class Kind {
        BadResponse, // the server answered, but not with a usable transcription
        Transport, // no answer: no network, refused, timed out
    };
    Kind kind = Kind::BadResponse;
    // What the user is told.
    QString description;
    // What the log keeps when it says more than the description: the network layer's own text
    // ("Host api.tessra.ai not found"), or the status behind a sentence.
    QString detail;

    QString localizedDescription() const { return description; }
    QString logText() const { return detail.isEmpty() ? description : detail; }
    friend bool operator==(const TessraError&, const TessraError&) = default;
};

// Reading the "verbose_json" reply: the quality filters per segment and the blocklist of
// phrases the recogniser invents on silence or noise.
namespace TranscriptionReply {

inline constexpr double noSpeechThreshold = 0.6;
inline constexpr double logprobThreshold = -1.0;
inline constexpr double compressionRatioThreshold = 2.4;

// Status 200 with a JSON object holding a string "text" gives its filtered text (empty when
// everything was filtered away); anything else gives an error whose description is the
// server's message or "HTTP <status>" (401 and 403 without a message: the refusal of the
// credential the request carried, with the status kept for the log).
Result<QString, TessraError> read(int httpStatus, const QByteArray& body, ModelCredentials::Kind credential);

// True for short texts (under 120 characters) that contain one of the invented phrases.
bool matchesHallucinationBlocklist(const QString& text);

// "error"."message", else "message", from a JSON error body.
std::optional<QString> errorMessage(const QByteArray& body);

} // namespace TranscriptionReply
