#pragma once

#include <QCheckBox>
#include <QColor>
#include <QWidget>

class CalendarService;
class SymbolButton;

// One calendar of the settings' calendar lists: a check box labelled with the calendar's colour
// dot and its title on one line (the whole label toggles the box), then, at least 8 apart, the
// button that marks the calendar as always recorded. What the box means is the holder's: the
// row only reports the user's clicks. The record button calls the calendar service itself,
// with the opposite of the state it shows.
class CalendarRow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CalendarRow)

public:
    static inline const QString kRecordTip = QStringLiteral("Always record this calendar");

    // recordId: the calendar's identifier in the always-record list.
    CalendarRow(const QString& title, const QColor& color, const QString& recordId, CalendarService& calendar,
        QWidget* parent = nullptr);

    QString recordId() const { return m_recordId; }
    QCheckBox* checkBox() const { return m_checkBox; }
    SymbolButton* recordButton() const { return m_record; }
    bool showsAlwaysRecord() const { return m_alwaysRecord; }

    // Shows a state without reporting it.
    void setChecked(bool checked);
    void setAlwaysRecord(bool on);

signals:
    void toggledByUser(bool checked);

private:
    QCheckBox* m_checkBox;
    SymbolButton* m_record;
    QString m_recordId;
    bool m_alwaysRecord = false;
};
