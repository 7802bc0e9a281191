#pragma once

#include "platform/SettingsKeys.h"

#include <QList>
#include <QWidget>
#include <functional>

class AccountService;
class CalendarSettingsSection;
class DesktopSettingsOpener;
class MeetingReminders;
class MicrophonePermission;
class QComboBox;
class QLineEdit;
class QPushButton;
class ReadingColumn;
class Settings;
class SettingsRow;
class SymbolView;
class Switch;
class ToneLabel;
class VocabularyEditor;
struct SettingsServices;

// The settings page of the main window: one scrolling column of seven cards (account,
// transcription, notifications, calendar, general, dictionary, own key). Each control shows its
// stored setting and writes it the moment the user changes it; only the reminders and the
// launch-at-login switches then call a service. Filling the controls from the store, at opening
// or when a setting changes elsewhere, writes and calls nothing. The main window makes the page
// afresh at each visit, so the microphone's status is read then, and again at each activation.
class SettingsView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingsView)

public:
    explicit SettingsView(const SettingsServices& services, QWidget* parent = nullptr);
    ~SettingsView() override;

    ReadingColumn* scrollArea() const { return m_scroll; }
    // The switch whose row has the title; null when there is none.
    Switch* switchFor(const QString& title) const;
    QComboBox* languagePicker() const { return m_language; }
    VocabularyEditor* vocabulary() const { return m_vocabulary; }
    CalendarSettingsSection* calendarSection() const { return m_calendarSection; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct SwitchBinding
    {
        const SettingsKey<bool>* key;
        Switch* control;
    };

    QWidget* section(const QString& title, QWidget* card);
    SettingsRow* switchRow(const QString& icon, const QString& title, const QString& subtitle,
        const SettingsKey<bool>& key, std::function<void(bool)> afterWrite = {});
    QWidget* transcriptionCard();
    QWidget* notificationsCard();
    QWidget* generalCard();
    QWidget* advancedCard();
    void settingChanged(const QString& key);
    void showLanguage();
    void showMicrophone();
    void showOwnKeyCaption();

    Settings& m_settings;
    AccountService& m_account;
    MicrophonePermission& m_microphone;
    DesktopSettingsOpener& m_opener;
    MeetingReminders& m_reminders;

    ReadingColumn* m_scroll = nullptr;
    QList<SwitchBinding> m_switches;
    QComboBox* m_language = nullptr;
    CalendarSettingsSection* m_calendarSection = nullptr;
    SettingsRow* m_microphoneRow = nullptr;
    SymbolView* m_microphoneGranted = nullptr;
    QPushButton* m_microphoneOpen = nullptr;
    VocabularyEditor* m_vocabulary = nullptr;
    QLineEdit* m_ownKey = nullptr;
    ToneLabel* m_ownKeyCaption = nullptr;
    ToneLabel* m_ownKeyUnkept = nullptr;
};
