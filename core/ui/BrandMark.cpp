#include "BrandMark.h"

#include <QString>

namespace ow {

QImage orbinMark()
{
    return QImage(QStringLiteral(":/brand/brand-mark.png"), "PNG");
}

} // namespace ow
