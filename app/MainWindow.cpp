#include "MainWindow.h"

#include "HomeView.h"
#include "Localizer.h"
#include "SettingsView.h"

#include <QMenuBar>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace ow {

namespace {
constexpr QSize kContentSize(430, 641);
}

MainWindow::MainWindow(HomeView* home, SettingsView* settings, QMenuBar* menuBar)
    : m_home(home)
    , m_settings(settings)
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
    m_views->addWidget(settings);
    outer->addWidget(content);
    outer->setSizeConstraint(QLayout::SetFixedSize); // not resizable
    showHomeView();
}

bool MainWindow::isShowingSettings() const
{
    return m_views->currentWidget() == m_settings;
}

void MainWindow::showSettingsView()
{
    m_views->setCurrentWidget(m_settings);
}

void MainWindow::showHomeView()
{
    m_views->setCurrentWidget(m_home);
}

} // namespace ow
