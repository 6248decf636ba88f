#pragma once

#include <QtGlobal>

#include <functional>

namespace ow {

// Session-wide input blocking: while grabbed, no keyboard or pointer event of the
// desktop session reaches any program, this one included. Each change of the held
// modifier keys is reported as a flags word (see ModifierFlags.h), on the main thread.
class InputGrab {
public:
    using FlagsSink = std::function<void(quint64 flags)>;

    virtual ~InputGrab() = default;

    // Takes the grab, waiting a short while for another client's grab to end.
    // Returns false, with nothing changed, when the grab cannot be had.
    virtual bool grab(FlagsSink sink) = 0;
    // Gives input back. Safe when not grabbed.
    virtual void release() = 0;
    // Tries again to take back what the server broke of the grab, if the first retake at
    // its notice lost to another client; the owner calls it every second or two while grabbed,
    // so it costs nothing when nothing was lost. Safe when not grabbed.
    virtual void reassert() = 0;
};

} // namespace ow
