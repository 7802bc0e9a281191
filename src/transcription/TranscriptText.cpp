#include "transcription/TranscriptText.h"

#include <QTextBoundaryFinder>

namespace TranscriptText {

QString folded(const QString& text)
{
    return text.toLower().normalized(QString::NormalizationForm_C);
}

qsizetype characterCount(const QString& text)
{
    if (text.isEmpty())
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

QString prefix(const QString& text, qsizetype count)
{
    if (count <= 0)
        return {};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype seen = 0;
    qsizetype position = 0;
    while (seen < count) {
        position = finder.toNextBoundary();
        if (position == -1)
            return text;
        ++seen;
    }
    return text.left(position);
}

namespace {

bool isWordCodePoint(char32_t codePoint)
{
    // QChar::isLetterOrNumber leaves combining marks out, which would split "tiếng" written
    // decomposed into pieces; marks belong to their word.
    switch (QChar::category(codePoint)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Number_Other:
        return true;
    default:
        return false;
    }
}

} // namespace

QStringList words(const QString& text)
{
    const QString normalized = folded(text);
    QStringList result;
    qsizetype wordStart = -1;
    for (qsizetype i = 0; i < normalized.size();) {
        char32_t codePoint = normalized.at(i).unicode();
        qsizetype width = 1;
        if (QChar::isHighSurrogate(codePoint) && i + 1 < normalized.size() && normalized.at(i + 1).isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(normalized.at(i), normalized.at(i + 1));
            width = 2;
        }
        if (isWordCodePoint(codePoint)) {
            if (wordStart < 0)
                wordStart = i;
        } else if (wordStart >= 0) {
            result.append(normalized.mid(wordStart, i - wordStart));
            wordStart = -1;
        }
        i += width;
    }
    if (wordStart >= 0)
        result.append(normalized.mid(wordStart));
    return result;
}

} // namespace TranscriptText
