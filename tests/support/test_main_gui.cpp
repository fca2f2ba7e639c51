#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Widgets are tested without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Writes record themselves in the data folder's change log: a folder of the run's own
    // unless a test chose one.
    QTemporaryDir home;
    if (qEnvironmentVariableIsEmpty("PMX31570A_HOME"))
        qputenv("PMX31570A_HOME", home.path().toUtf8());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
