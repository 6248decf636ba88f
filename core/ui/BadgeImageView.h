#pragma once

#include <QLabel>

class QImage;

namespace ow {

// An image laid over a button as a decoration. It never takes the mouse, so a click on
// it reaches the button beneath.
class BadgeImageView : public QLabel {
    Q_OBJECT
public:
    explicit BadgeImageView(QWidget* parent = nullptr);

    void setImage(const QImage& image);
};

} // namespace ow
