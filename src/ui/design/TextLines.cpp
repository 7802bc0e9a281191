#include "ui/design/TextLines.h"

#include <QFontMetricsF>
#include <QTextLayout>
#include <algorithm>

namespace {

QString forLayout(QString text)
{
    // QTextLayout breaks lines at line separators; a plain line feed would be drawn as a box.
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    return text;
}

} // namespace

namespace TextLines {

QStringList wrap(const QString& text, const QFont& font, qreal width, int maxLines)
{
    const QString laidOut = forLayout(text);
    QTextLayout layout(laidOut, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QStringList lines;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (maxLines > 0 && lines.size() == maxLines - 1) {
            QString shown = laidOut.mid(line.textStart());
            if (layout.createLine().isValid()) {
                shown.replace(QChar::LineSeparator, QLatin1Char(' '));
                shown = QFontMetricsF(font).elidedText(shown, Qt::ElideRight, width);
            }
            lines.append(shown.remove(QChar::LineSeparator));
            break;
        }
        lines.append(laidOut.mid(line.textStart(), line.textLength()).remove(QChar::LineSeparator));
    }
    layout.endLayout();
    return lines;
}

int count(const QString& text, const QFont& font, qreal width, int maxLines)
{
    QTextLayout layout(forLayout(text), font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    int lines = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (++lines == maxLines)
            break;
    }
    layout.endLayout();
    return std::max(lines, 1);
}

bool isBlank(const QString& text)
{
    return std::all_of(
        text.cbegin(), text.cend(), [](QChar c) { return c == u'\t' || c.category() == QChar::Separator_Space; });
}

} // namespace TextLines
