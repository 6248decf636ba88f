#pragma once

#include <QWidget>

class QLabel;

namespace ow {

class CountdownLabel;
class FadingLabel;
class HoldBarView;

// A black window covering one whole screen above everything else, panels and docks
// included, that says how to get out: icon, title, subtitle, the instruction with the
// hold time, the hold bar, a hint shown while the keys are held, the countdown to the
// automatic unlock, and, only when some input could not be locked, a warning naming it.
// On X11 it bypasses the window manager, so nothing can move or close it.
class LockWindow : public QWidget {
    Q_OBJECT
public:
    LockWindow(const QRect& screenGeometry, double holdSeconds);

    HoldBarView* holdBar() const { return m_holdBar; }
    FadingLabel* holdHint() const { return m_holdHint; }
    CountdownLabel* countdownLabel() const { return m_countdownLabel; }
    QLabel* warningLabel() const { return m_warningLabel; }
    // Shows the warning line; an empty text hides it.
    void setWarning(const QString& text);
    // Shows the window over its screen.
    void present();

private:
    HoldBarView* m_holdBar;
    FadingLabel* m_holdHint;
    CountdownLabel* m_countdownLabel;
    QLabel* m_warningLabel;
};

} // namespace ow
