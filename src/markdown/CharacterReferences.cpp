#include "markdown/CharacterReferences.h"

#include "markdown/CharacterReferenceNames.h"

#include <QLatin1String>
#include <algorithm>

QString CharacterReferences::named(QStringView name)
{
    using CharacterReferenceNames::kCount;
    using CharacterReferenceNames::kNames;
    const auto end = kNames + kCount;
    // The names are sorted by their bytes, which for ASCII is the order of UTF-16 code units.
    const auto found
        = std::lower_bound(kNames, end, name, [](const CharacterReferenceNames::Name& entry, QStringView key) {
              return QStringView(key).compare(QLatin1String(entry.name)) > 0;
          });
    if (found == end || name.compare(QLatin1String(found->name)) != 0)
        return QString();
    return QString::fromUtf16(found->text);
}

QString CharacterReferences::numeric(char32_t code)
{
    if (code == 0 || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        code = 0xFFFD;
    return QString::fromUcs4(&code, 1);
}
