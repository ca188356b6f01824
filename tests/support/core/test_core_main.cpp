// Test entry point of the core's tests: a QCoreApplication, as the companion
// and the other programs on the core have, and nothing of the window.
#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
