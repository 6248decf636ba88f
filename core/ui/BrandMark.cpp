#include "BrandMark.h"

#include <QImageReader>
#include <QString>

namespace ow {

QImage orbinMark()
{
    // Known to be a PNG: without the format check, the reader would load every image format
    // plugin to ask each whether it reads PNG, and they would stay loaded.
    QImageReader reader(QStringLiteral(":/brand/brand-mark.png"), "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

} // namespace ow
