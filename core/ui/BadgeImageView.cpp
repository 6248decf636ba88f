#include "BadgeImageView.h"

#include <QImage>
#include <QPixmap>

namespace ow {

BadgeImageView::BadgeImageView(QWidget* parent)
    : QLabel(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void BadgeImageView::setImage(const QImage& image)
{
    setPixmap(QPixmap::fromImage(image));
}

} // namespace ow
