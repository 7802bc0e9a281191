#pragma once

#include <QFont>
#include <QPalette>
#include <QRect>
#include <QString>
#include <QStringList>

class Meeting;
class QPainter;

// One meeting's row in the sidebar: a pulsing dot while it records, its title, and a line
// with its start time, its length in minutes and a mark when it has a summary. Painted by the
// sidebar's delegate; the row draws no selection, hover or focus of its own.
class MeetingRow final
{
public:
    // What the row shows of a meeting, worked out when it is painted.
    struct Content
    {
        bool recording = false;
        QString title;
        // The time, then "·" and the length when there is one; each part is drawn 4 apart.
        QStringList meta;
        // "·" and the summary symbol end the line.
        bool summaryMark = false;
    };

    static Content content(const Meeting& meeting);

    static int height();
    static constexpr qreal kDotSize = 7;

    // dotOpacity: where the recording dot's pulse stands (1 to 0.45).
    static void paint(
        QPainter& painter, const QRect& rect, const Content& content, const QPalette& palette, qreal dotOpacity);
    // Where the dot of a row drawn in rect lies (to repaint only it while it pulses).
    static QRect dotRect(const QRect& rect);

    static QFont titleFont();
    static QFont metaFont();
};
