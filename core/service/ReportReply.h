#pragma once

#include <QByteArray>

namespace ow {

// Whether the service took a problem report: status 200 and a JSON object whose "ok" is
// true. Anything else, a proxy's error page included, means it did not.
bool reportAccepted(int status, const QByteArray& body);

} // namespace ow
