#pragma once

#include "platform/SettingsKeys.h"

#include <QAbstractButton>

class Settings;

// One choice of appearance: a miniature window drawn in the scheme it stands for, over its
// name. Pressing it writes its value to "appTheme"; it is shown selected while "appTheme" holds
// exactly that value.
class ThemeTile final : public QAbstractButton
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ThemeTile)
    // What a screen reader reads as the radio button's checked state.
    Q_PROPERTY(bool selected READ isSelected)

public:
    ThemeTile(const QString& name, const QString& value, Settings& settings, QWidget* parent = nullptr);

    QString value() const { return m_value; }
    bool isSelected() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QRectF cardRect() const;

    QString m_value;
    Settings& m_settings;
};
