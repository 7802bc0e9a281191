#pragma once

#include <QLocale>
#include <QString>
#include <memory>
#include <optional>
#include <span>

// On-device recognition of one audio stream, one phrase at a time. An object is made and
// used on a single thread (the live draft's decoding thread): making one loads a model and
// decoding can take longer than the audio it is given, so neither belongs on a capture
// thread or on the main thread.
class SpeechRecognizer
{
public:
    virtual ~SpeechRecognizer() = default;

    // Starts a phrase; false when the recogniser cannot decode at all.
    virtual bool beginPhrase() = 0;

    // Appends samples (mono floats in [-1, 1] at the rate the recogniser was made for) to the
    // phrase and returns the best guess of the whole phrase so far, or nullopt when decoding
    // failed (the phrase is over then).
    virtual std::optional<QString> process(std::span<const float> samples) = 0;

    // Ends the phrase and discards its result.
    virtual void endPhrase() = 0;
};

// The recogniser installed on this system (pocketsphinx with its US English model).
namespace SpeechRecognition {

// The model covers English; the C/POSIX locale counts as English as well.
bool supportsLocale(const QLocale& locale);

// Where the installed acoustic model, language model and dictionary live.
QString modelDirectory();

// Recognition needs no permission here, only the model: "authorised" means it is installed.
bool isAuthorized(const QString& modelDirectory = SpeechRecognition::modelDirectory());

// Loads the model (slow: about a third of a second and 100 MB); null when it cannot be loaded.
std::unique_ptr<SpeechRecognizer> createOnDevice(
    double sampleRate, const QString& modelDirectory = SpeechRecognition::modelDirectory());

} // namespace SpeechRecognition
