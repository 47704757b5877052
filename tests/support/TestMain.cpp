// Every test binary gets a QApplication (offscreen by default) so widgets,
// timers and QNetworkAccessManager work the way they do in the agent. Tests
// added with X11 get the test session's Xvfb display when it has one.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    const QByteArray display = qgetenv("TAVLO_TEST_DISPLAY");
    if (qEnvironmentVariableIsSet("TAVLO_TEST_X11") && !display.isEmpty()) {
        qputenv("DISPLAY", display);
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
