#include "XvfbServer.h"

#include <QApplication>

#include <gtest/gtest.h>

// These tests need a real X server: the binary starts its own Xvfb before Qt connects.
int main(int argc, char** argv)
{
    ow::test::XvfbServer xvfb;
    if (!xvfb.becomeSessionDisplay())
        return 1;
    qputenv("LANGUAGE", "en");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
