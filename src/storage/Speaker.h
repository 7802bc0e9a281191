#pragma once

#include <QString>
#include <optional>

// Who spoke a transcript turn. Segments store it as its raw value: "Me", "Them" or a name.
struct Speaker
{
    enum class Kind { Me, Them, Other };

    Kind kind = Kind::Me;
    QString name; // only meaningful for Other

    static Speaker me();
    static Speaker them();
    static Speaker other(const QString& name);

    // The empty string gives no speaker; readers then take me().
    static std::optional<Speaker> fromRawValue(const QString& rawValue);
    QString rawValue() const;

    // "Speaker A", "Speaker B" or the name: the labels of the plain-text transcript.
    QString transcriptLabel() const;

    friend bool operator==(const Speaker& a, const Speaker& b)
    {
        return a.kind == b.kind && (a.kind != Kind::Other || a.name == b.name);
    }
};

size_t qHash(const Speaker& speaker, size_t seed = 0) noexcept;
