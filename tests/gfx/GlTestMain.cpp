// Entry point of the tests that draw on a real X display (xvfb-run gives one
// with GLX). Without a display they still list and run, and skip.
#include <QApplication>

#include <gtest/gtest.h>

bool gXDisplay = false;

int main(int argc, char** argv)
{
    gXDisplay = !qEnvironmentVariableIsEmpty("DISPLAY");
    qputenv("QT_QPA_PLATFORM", gXDisplay ? "xcb" : "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
