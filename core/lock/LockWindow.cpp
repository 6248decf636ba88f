#include "LockWindow.h"

#include "CountdownLabel.h"
#include "FadingLabel.h"
#include "HoldBarView.h"
#include "Localizer.h"
#include "SessionKind.h"
#include "VisualKit.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

namespace ow {

namespace {

constexpr int kSideMargin = 40;

QColor white(qreal level)
{
    return QColor::fromRgbF(float(level), float(level), float(level));
}

} // namespace

LockWindow::LockWindow(const QRect& screenGeometry, double holdSeconds)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                           | Qt::X11BypassWindowManagerHint)
{
    // Keyboard input is held by the grab; taking focus would only disturb the focused
    // program, which should still have it after the unlock.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setCursor(Qt::BlankCursor);
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
    setAutoFillBackground(true);
    setGeometry(screenGeometry);

    auto* icon = new QLabel(this);
    icon->setFixedSize(130, 130);
    icon->setPixmap(orbinMarkPixmap(130));

    // Sizes are pixels, as the overlay was drawn; labels are plain text.
    const int seconds = int(holdSeconds);
    const QString instruction = seconds <= 1 ? L("lock.instruction_one", seconds)
                                             : L("lock.instruction_other", seconds);
    auto* title = makeLabel(L("lock.title"), 40, QFont::Bold, Qt::white, this);
    auto* subtitle = makeLabel(L("lock.subtitle"), 18, QFont::Normal, white(0.72), this);
    auto* instructionLabel = makeLabel(instruction, 15, QFont::Normal, white(0.62), this);
    // On a narrow screen a long translation would push the column past its edges.
    for (QLabel* label : {title, subtitle, instructionLabel})
        wrapBeyond(label, screenGeometry.width() - 2 * kSideMargin);
    m_holdBar = new HoldBarView(this);
    m_holdHint = new FadingLabel(L("lock.keep_holding"), this);
    styleLabel(m_holdHint, 13, QFont::Medium, QColor::fromRgbF(0.686f, 0.573f, 0.992f));
    m_holdHint->setAlpha(0.0);
    m_countdownLabel = new CountdownLabel(13, QFont::Normal, white(0.5), this);
    // Sized once for its widest text (two digits each for minutes and seconds), it never
    // changes size: a tick repaints part of it and lays nothing out.
    m_countdownLabel->fitTo(L("lock.auto_unlock_countdown", 88, 88));
    // Device names come from the devices themselves: plain text, as every label here.
    m_warningLabel = makeLabel(QString(), 13, QFont::Medium, QColor::fromRgbF(1.0f, 0.76f, 0.3f), this);
    m_warningLabel->setWordWrap(true);
    m_warningLabel->setFixedWidth(screenGeometry.width() - 2 * kSideMargin);
    m_warningLabel->hide();

    centredColumn(this, {{icon, 16}, {title, 16}, {subtitle, 16}, {instructionLabel, 28},
                         {m_holdBar, 16}, {m_holdHint, 24}, {m_countdownLabel, 16}, {m_warningLabel, 0}});
}

void LockWindow::setWarning(const QString& text)
{
    m_warningLabel->setVisible(!text.isEmpty());
    if (text.isEmpty())
        return;
    const int width = m_warningLabel->width();
    m_warningLabel->setText(elideUnbreakableRuns(text, m_warningLabel->fontMetrics(), width));
    // Fixed, as a column's layout would give the label the height of its single line.
    m_warningLabel->setFixedHeight(m_warningLabel->heightForWidth(width));
}

void LockWindow::present()
{
    // A Wayland client cannot place its windows: it asks to be full screen on one output,
    // which Qt's wayland platform maps with xdg-shell's fullscreen state on that output.
    if (SessionKind::current().windows != WindowSystem::Wayland) {
        show();
        return;
    }
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->geometry() == geometry())
            setScreen(screen);
    }
    showFullScreen();
}

} // namespace ow
