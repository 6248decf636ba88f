#pragma once

#include <QWidget>

class QMenuBar;
class QStackedLayout;

namespace ow {

class HomeView;
class SettingsView;

// The one main window: fixed 430 × 641 content holding the home view and the settings
// view, exactly one of them visible. Closing it only hides it; the application goes on.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    MainWindow(HomeView* home, SettingsView* settings, QMenuBar* menuBar);

    HomeView* homeView() const { return m_home; }
    SettingsView* settingsView() const { return m_settings; }
    bool isShowingSettings() const;
    void showSettingsView();
    void showHomeView();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    HomeView* m_home;
    SettingsView* m_settings;
    QStackedLayout* m_views;
};

} // namespace ow
