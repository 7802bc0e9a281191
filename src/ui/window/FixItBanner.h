#pragma once

#include <QWidget>
#include <functional>

class AccountService;
class DesktopSettingsOpener;
class MicrophonePermission;
class QLabel;
class QPushButton;

// The strip over the detail column that names the one thing keeping the user from recording
// and offers its fix: first microphone access that is off, then no way to transcribe (neither
// signed in nor an own provider key). With neither it is hidden inside and takes no height.
//
// The microphone is looked at when the banner appears and when the application becomes active
// again (the main window calls recheckMicrophone()), never on a timer, and access is never
// asked for here. The sign-in condition follows the account service at once.
class FixItBanner final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FixItBanner)

public:
    enum class Strip { none, microphone, signIn };
    Q_ENUM(Strip)

    // onSignIn: brings the user to the settings page, where the account card signs in.
    FixItBanner(AccountService& account, MicrophonePermission& microphone, DesktopSettingsOpener& desktopSettings,
        std::function<void()> onSignIn, QWidget* parent = nullptr);

    Strip strip() const { return m_strip; }
    QString message() const;
    QPushButton* button() const { return m_button; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

public slots:
    void recheckMicrophone();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void evaluate();
    void fix();

    AccountService& m_account;
    MicrophonePermission& m_microphone;
    DesktopSettingsOpener& m_desktopSettings;
    std::function<void()> m_onSignIn;
    bool m_micMissing = false;
    Strip m_strip = Strip::none;
    QWidget* m_content;
    QLabel* m_message;
    QPushButton* m_button;
};
