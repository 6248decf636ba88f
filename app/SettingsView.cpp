#include "SettingsView.h"

#include "ClientInfo.h"
#include "HoldDuration.h"
#include "Localizer.h"
#include "LoginItem.h"
#include "SymbolIcons.h"
#include "SystemLog.h"
#include "UpdateController.h"
#include "UserDefaults.h"
#include "VisualKit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>

namespace ow {

namespace {

constexpr int kWidth = 430;
constexpr int kBackIcon = 16;
constexpr int kBrandMark = 48;
constexpr int kHoldChoices[] = {1, 2, 3, 5, 10};

QString cssColor(const QColor& color)
{
    return QStringLiteral("rgba(%1, %2, %3, %4%)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(qRound(color.alphaF() * 100));
}

// A rounded panel behind a group of rows; the rows are its siblings, laid over it.
void addCard(const QRect& frame, QWidget* parent)
{
    auto* card = new QFrame(parent);
    card->setObjectName(QStringLiteral("card"));
    card->setStyleSheet(QStringLiteral("#card { background: %1; border: 1px solid %2; border-radius: 10px; }")
                            .arg(cssColor(textColor(parent, 0.05)), cssColor(textColor(parent, 0.08))));
    card->setGeometry(frame);
}

void centreHorizontally(QWidget* widget, int top)
{
    widget->adjustSize();
    widget->move((kWidth - widget->width()) / 2, top);
}

void setCheckedQuietly(QCheckBox* box, bool on)
{
    const QSignalBlocker quiet(box);
    box->setChecked(on);
}

} // namespace

QUrl SettingsView::websiteUrl()
{
    return QUrl(QStringLiteral("https://orbinlabs.app"));
}

SettingsView::SettingsView(Services services, bool menuBarMode, QWidget* parent)
    : QWidget(parent)
    , m_services(std::move(services))
{
    m_back = new QToolButton(this);
    m_back->setAutoRaise(true);
    m_back->setIcon(chevronLeftIcon(kBackIcon, textColor(this, 0.55)));
    m_back->setIconSize(QSize(kBackIcon, kBackIcon));
    m_back->setAccessibleName(L("accessibility.back"));
    m_back->setToolTip(L("accessibility.back"));
    m_back->setGeometry(18, 46, 28, 28);
    connect(m_back, &QToolButton::clicked, this, &SettingsView::backRequested);

    auto* title = makeLabel(L("settings.title"), 20, QFont::Bold, textColor(this, 1.0), this);
    title->adjustSize();
    title->move(54, 60 - title->height() / 2);

    addCard(QRect(24, 100, 382, 46), this);
    m_holdPopUp = new QComboBox(this);
    m_holdPopUp->setGeometry(310, 110, 80, 26);
    auto* holdLabel = makeLabel(L("settings.hold_label"), 13, QFont::Normal, textColor(this, 1.0), this);
    holdLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // A long translation takes two lines rather than run under the pop-up.
    wrapBeyond(holdLabel, m_holdPopUp->x() - 8 - 40);
    holdLabel->adjustSize();
    holdLabel->move(40, 123 - holdLabel->height() / 2);
    buildHoldPopUp();
    // Activated, not changed: choosing the time already shown is a choice too.
    connect(m_holdPopUp, &QComboBox::activated, this, &SettingsView::holdChosen);

    addCard(QRect(24, 162, 382, 108), this);
    m_autoUpdate = new QCheckBox(L("settings.auto_update"), this);
    m_menuBar = new QCheckBox(L("settings.menu_bar_icon"), this);
    m_launchAtLogin = new QCheckBox(L("settings.launch_at_login"), this);
    const std::pair<QCheckBox*, int> rows[] = {{m_autoUpdate, 174}, {m_menuBar, 206}, {m_launchAtLogin, 238}};
    for (const auto& [box, top] : rows) {
        box->adjustSize();
        box->move(40, top);
    }
    UpdateController& updater = m_services.updater;
    m_autoUpdate->setChecked(updater.automaticallyChecksForUpdates() && updater.automaticallyDownloadsUpdates());
    m_menuBar->setChecked(menuBarMode);
    m_launchAtLogin->setChecked(m_services.loginItem.isEnabled());
    connect(m_autoUpdate, &QCheckBox::toggled, this, &SettingsView::autoUpdateToggled);
    connect(m_menuBar, &QCheckBox::toggled, this, &SettingsView::menuBarModeToggled);
    connect(m_launchAtLogin, &QCheckBox::toggled, this, &SettingsView::launchAtLoginToggled);

    m_checkUpdates = new QPushButton(L("menu.check_updates"), this);
    m_checkUpdates->adjustSize();
    m_checkUpdates->move(24, 286);
    connect(m_checkUpdates, &QPushButton::clicked, this, &SettingsView::checkForUpdatesRequested);
    m_reportProblem = new QPushButton(L("menu.report_problem"), this);
    m_reportProblem->adjustSize();
    m_reportProblem->move(24, 324);
    connect(m_reportProblem, &QPushButton::clicked, this, &SettingsView::reportProblemRequested);

    auto* separator = new QFrame(this);
    separator->setAutoFillBackground(true);
    QPalette line = separator->palette();
    line.setColor(QPalette::Window, textColor(this, 0.1));
    separator->setPalette(line);
    separator->setGeometry(24, 368, 382, 1);

    auto* brandMark = new QLabel(this);
    brandMark->setFixedSize(kBrandMark, kBrandMark);
    brandMark->setPixmap(orbinMarkPixmap(kBrandMark));
    brandMark->move((kWidth - kBrandMark) / 2, 488);

    const QString version = appVersion();
    auto* versionLabel = makeLabel(L("about.version_label", version.isEmpty() ? QStringLiteral("?") : version), 12,
                          QFont::DemiBold, textColor(this, 1.0), this);
    centreHorizontally(versionLabel, 546);
    auto* developer = makeLabel(L("about.developed_by"), 11, QFont::Normal, textColor(this, 0.55), this);
    centreHorizontally(developer, 565);

    m_website = new QPushButton(websiteUrl().host(), this);
    m_website->setFlat(true);
    m_website->setCursor(Qt::PointingHandCursor);
    QFont linkFont = m_website->font();
    linkFont.setPixelSize(12);
    linkFont.setWeight(QFont::DemiBold);
    m_website->setFont(linkFont);
    QPalette link = m_website->palette();
    link.setColor(QPalette::ButtonText, orbinMauve());
    m_website->setPalette(link);
    centreHorizontally(m_website, 599);
    connect(m_website, &QPushButton::clicked, this, [this] { m_services.openUrl(websiteUrl()); });
}

void SettingsView::buildHoldPopUp()
{
    for (const int seconds : kHoldChoices)
        m_holdPopUp->addItem(L("settings.seconds_unit", seconds), seconds);
    showHoldSeconds(int(holdDuration(m_services.defaults)));
}

void SettingsView::showHoldSeconds(int seconds)
{
    // A value the server chose, such as 7, is offered too rather than shown as another.
    if (m_holdPopUp->findData(seconds) < 0)
        m_holdPopUp->addItem(L("settings.seconds_unit", seconds), seconds);
    m_holdPopUp->setCurrentIndex(m_holdPopUp->findData(seconds));
}

void SettingsView::holdChosen(int index)
{
    const int seconds = m_holdPopUp->itemData(index).toInt();
    m_services.defaults.setValue(QLatin1String(DefaultsKey::HoldSecondsUser), qint64(seconds));
    emit holdSecondsChanged(int(holdDuration(m_services.defaults)));
}

void SettingsView::autoUpdateToggled(bool on)
{
    m_services.updater.setAutomaticallyChecksForUpdates(on);
    m_services.updater.setAutomaticallyDownloadsUpdates(on);
}

void SettingsView::launchAtLoginToggled(bool on)
{
    QString error;
    LoginItem& item = m_services.loginItem;
    if (!(on ? item.registerItem(&error) : item.unregisterItem(&error)))
        m_services.log.write(QStringLiteral("OrbinWash: ouverture à la connexion: ") + error);
    showLoginItemState();
}

void SettingsView::showLoginItemState()
{
    setCheckedQuietly(m_launchAtLogin, m_services.loginItem.isEnabled());
}

void SettingsView::setMenuBarMode(bool on)
{
    setCheckedQuietly(m_menuBar, on);
}

void SettingsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The entry can be removed behind our back, e.g. from the desktop's startup settings.
    showLoginItemState();
}

} // namespace ow
