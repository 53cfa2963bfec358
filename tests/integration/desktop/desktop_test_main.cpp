#include "support/xvfb.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

// The desktop application's tests run on a private X display of their own, made before the one
// QApplication they share.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    tavoro::test::Xvfb display(1600, 1000);
    if (!display.running()) {
        return 1;
    }
    ::setenv("DISPLAY", display.display().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
