#pragma once

#include <QUrl>
#include <QWidget>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QToolButton;

namespace ow {

class LoginItem;
class SystemLog;
class UpdateController;
class UserDefaults;

// The settings page of the main window, 430 × 641, laid out top-down at fixed places:
// the back button and title, the hold time, the three switches (automatic updates, the
// tray icon, start at login), the two commands, and the about block with the maker's
// site. Each switch shows the real state of what it controls.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    struct Services {
        UserDefaults& defaults;
        UpdateController& updater;
        LoginItem& loginItem;
        SystemLog& log;
        std::function<bool(const QUrl&)> openUrl;
    };

    // The maker's site, shown without its scheme.
    static QUrl websiteUrl();

    SettingsView(Services services, bool menuBarMode, QWidget* parent = nullptr);

    QToolButton* backButton() const { return m_back; }
    QComboBox* holdPopUp() const { return m_holdPopUp; }
    QCheckBox* autoUpdateBox() const { return m_autoUpdate; }
    QCheckBox* menuBarBox() const { return m_menuBar; }
    QCheckBox* launchAtLoginBox() const { return m_launchAtLogin; }
    QPushButton* checkUpdatesButton() const { return m_checkUpdates; }
    QPushButton* reportProblemButton() const { return m_reportProblem; }
    QPushButton* websiteButton() const { return m_website; }

    // Shows the tray mode as chosen elsewhere, without asking for it again.
    void setMenuBarMode(bool on);
    // Shows the hold time in force, as the server may change it, without storing it as
    // the user's choice.
    void showHoldSeconds(int seconds);

signals:
    void backRequested();
    // The hold time the unlock now asks for, after the user picked one.
    void holdSecondsChanged(int seconds);
    void menuBarModeToggled(bool on);
    void checkForUpdatesRequested();
    void reportProblemRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildHoldPopUp();
    void holdChosen(int index);
    void autoUpdateToggled(bool on);
    void launchAtLoginToggled(bool on);
    void showLoginItemState();

    Services m_services;
    QToolButton* m_back;
    QComboBox* m_holdPopUp;
    QCheckBox* m_autoUpdate;
    QCheckBox* m_menuBar;
    QCheckBox* m_launchAtLogin;
    QPushButton* m_checkUpdates;
    QPushButton* m_reportProblem;
    QPushButton* m_website;
};

} // namespace ow
