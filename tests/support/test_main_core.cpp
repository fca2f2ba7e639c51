#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Writes record themselves in the data folder's change log: a folder of the run's own
    // unless a test chose one.
    QTemporaryDir home;
    if (qEnvironmentVariableIsEmpty("PMX31570A_HOME"))
        qputenv("PMX31570A_HOME", home.path().toUtf8());
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
