#pragma once

#include "WindowBlitter.h"

#include <memory>

namespace ow {

class X11Connection;
class X11PutQueue;

// Keeps the tiles in a pixmap on the X server, on the shared connection, and puts one with
// a CopyArea: a single small request, with no reply to wait for. A put made later is sent
// at once, and the server makes it at its time (X11PutQueue).
class X11WindowBlitter final : public WindowBlitter {
public:
    X11WindowBlitter();
    ~X11WindowBlitter() override;

    std::unique_ptr<Tiles> upload(WId window, const QImage& strip, int count) override;

private:
    std::shared_ptr<X11Connection> m_connection;
    std::weak_ptr<X11PutQueue> m_queue;
};

} // namespace ow
