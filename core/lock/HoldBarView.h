#pragma once

#include <QWidget>

namespace ow {

// The bar that fills while the unlock keys are held: a grey track, a glowing mauve fill
// that is never narrower than a circle of the bar's height, and a white knob at its end.
// Progress above 1 draws full; 0 or less draws only the track.
class HoldBarView : public QWidget {
    Q_OBJECT
public:
    explicit HoldBarView(QWidget* parent = nullptr);

    double progress() const { return m_progress; }
    void setProgress(double progress);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_progress = 0.0;
};

} // namespace ow
