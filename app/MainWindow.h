#pragma once

#include <QWidget>

#include <functional>

class QMenuBar;
class QStackedLayout;

namespace ow {

class HomeView;
class SettingsView;

// The one main window: fixed 430 × 641 content holding the home view and the settings
// view, exactly one of them visible. Closing it only hides it; the application goes on.
// The settings view is made the first time it is wanted: most launches only lock, and its
// widgets would stay in memory through every lock.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    MainWindow(HomeView* home, std::function<SettingsView*()> makeSettings, QMenuBar* menuBar);

    HomeView* homeView() const { return m_home; }
    // The settings view, made now if it was not yet.
    SettingsView* settingsView();
    // The settings view if it was made; one made later shows the settings as they are then.
    SettingsView* madeSettingsView() const { return m_settings; }
    bool isShowingSettings() const;
    void showSettingsView();
    void showHomeView();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    HomeView* m_home;
    std::function<SettingsView*()> m_makeSettings;
    SettingsView* m_settings = nullptr;
    QStackedLayout* m_views;
};

} // namespace ow
