#pragma once

#include <QByteArray>
#include <QImage>

namespace ow {

// The brand mark's PNG file, decoded from its embedded Base64 text at each call.
QByteArray orbinMarkPng();

// The brand mark, 120 × 120 at 300 dpi, decoded afresh at each call; null if the
// embedded data cannot be read.
QImage orbinMark();

} // namespace ow
