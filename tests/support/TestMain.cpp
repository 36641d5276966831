#include "tests/support/PrivateSession.h"

#include <QApplication>

#include <gtest/gtest.h>

// Widget logic runs on Qt's offscreen platform unless a test program asks for the real display.
int main(int argc, char** argv)
{
    jw::test::cutSessionBusOutsidePrivateSession();
    if (qEnvironmentVariableIsEmpty("JW_TEST_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
