#include <gtest/gtest.h>

#include <QApplication>

// One application object for the whole run: the serial control, the event loop and the
// window all need it. The window is drawn off screen unless a platform is asked for.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
