#pragma once

#include <QWidget>

class FlowLayout;
class QLineEdit;
class QPushButton;
class Settings;

// The custom vocabulary of the settings page: a field with "Add", and the stored words as
// chips with a remove cross, wrapped into rows. It keeps no copy of the list: the chips are
// drawn again from the settings whenever "customDictionary" changes, whoever changed it.
class VocabularyEditor final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(VocabularyEditor)

public:
    explicit VocabularyEditor(Settings& settings, QWidget* parent = nullptr);

    // Adds the field's word, trimmed, and empties the field; a blank field is left as it is.
    void addWord();

    // The chips' holder, in the order of the stored list; hidden while the list is empty.
    QWidget* chips() const { return m_chips; }

private:
    void redrawChips();
    void updateAddButton();

    Settings& m_settings;
    QLineEdit* m_field;
    QPushButton* m_add;
    QWidget* m_chips;
    FlowLayout* m_flow;
};
