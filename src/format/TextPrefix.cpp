#include "format/TextPrefix.h"

#include <QTextBoundaryFinder>

namespace TextPrefix {

QString graphemes(const QString& text, qsizetype count)
{
    if (count <= 0)
        return {};
    // A cluster is at least one code unit, so a text this short cannot hold more clusters.
    if (text.size() <= count)
        return text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype seen = 0;
    for (qsizetype boundary = finder.toNextBoundary(); boundary != -1; boundary = finder.toNextBoundary()) {
        if (++seen == count)
            return text.left(boundary);
    }
    return text;
}

} // namespace TextPrefix
