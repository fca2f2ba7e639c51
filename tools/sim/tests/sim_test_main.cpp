#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv); // QProcess and QTemporaryDir want one
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
