// One QApplication for every widget test, on the offscreen platform.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ui/Application.h"

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
