#include <QApplication>

#include <gtest/gtest.h>

// Widget tests run on Qt's offscreen platform, without a display, with two screens side
// by side (1024 × 768, then 800 × 600).
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" TWO_SCREEN_CONFIG);
    // Tests compare with the English texts; the layout test asks for each language in turn.
    qputenv("LANGUAGE", qEnvironmentVariableIsSet("OW_TEST_LANGUAGE") ? qgetenv("OW_TEST_LANGUAGE") : "en");
    // Not in the Wayland session a developer may run them from: the X11 grab stays an option.
    qunsetenv("WAYLAND_DISPLAY");
    qunsetenv("XDG_SESSION_TYPE");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
