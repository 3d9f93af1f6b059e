// The widget tests need a QApplication. They always draw on Qt's offscreen platform, so that
// neither a display nor the desktop's settings change what they see, also when CTest lists them.
// The serial ports the windows may search are those of an empty folder, never the machine's.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir no_ports;
    setenv("QVLIB_PORT_DIR", no_ports.path().toLocal8Bit().constData(), 1);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
