#pragma once

#include <QImage>

namespace ow {

// Our brand mark: a mauve rounded square (#7C3AED to #AF92FD) with a white key cap and two
// sparkles, 120 × 120 at 300 dpi, read from the application's resources afresh at each call;
// null if it cannot be read.
QImage orbinMark();

} // namespace ow
