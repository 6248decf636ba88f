#include "MainWindow.h"

#include "HomeView.h"
#include "Localizer.h"
#include "SettingsView.h"

#include <QHideEvent>
#include <QMenuBar>
#include <QStackedLayout>
#include <QTimer>
#include <QVBoxLayout>

namespace ow {

namespace {
constexpr QSize kContentSize(430, 641);
}

MainWindow::MainWindow(HomeView* home, std::function<SettingsView*()> makeSettings, QMenuBar* menuBar)
    : m_home(home)
    , m_makeSettings(std::move(makeSettings))
    , m_views(new QStackedLayout)
{
    setWindowTitle(L("app.name"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->setMenuBar(menuBar);
    auto* content = new QWidget(this);
    content->setFixedSize(kContentSize);
    content->setLayout(m_views);
    m_views->addWidget(home);
    outer->addWidget(content);
    outer->setSizeConstraint(QLayout::SetFixedSize); // not resizable
    showHomeView();
}

SettingsView* MainWindow::settingsView()
{
    if (!m_settings) {
        m_settings = m_makeSettings();
        m_views->addWidget(m_settings);
    }
    return m_settings;
}

bool MainWindow::isShowingSettings() const
{
    return m_settings && m_views->currentWidget() == m_settings;
}

void MainWindow::showSettingsView()
{
    m_views->setCurrentWidget(settingsView());
}

void MainWindow::showHomeView()
{
    m_views->setCurrentWidget(m_home);
}

void MainWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // Hidden, for a lock or in the tray, the window would keep its native window and a
    // buffer as large as itself: both are let go, and showing the window makes them anew.
    // Later, so that whoever hid it finishes with it first; a minimised window stays.
    QTimer::singleShot(0, this, [this] {
        if (!isVisible() && testAttribute(Qt::WA_WState_Created))
            destroy();
    });
}

} // namespace ow
