#include "XvfbServer.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdio>

// These tests need a real X server: the binary starts its own Xvfb before Qt connects.
int main(int argc, char** argv)
{
    ow::test::XvfbServer xvfb;
    if (!xvfb.isRunning()) {
        std::fprintf(stderr, "Could not start Xvfb: %s\n", qPrintable(xvfb.errorString()));
        return 1;
    }
    qputenv("DISPLAY", xvfb.display().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("WAYLAND_DISPLAY");
    qunsetenv("XDG_SESSION_TYPE");
    // No session bus: nothing may start one behind the tests' back.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/orbinwash-test-bus");

    qputenv("LANGUAGE", "en");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
