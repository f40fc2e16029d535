// main() for GUI tests: one application object on the offscreen platform.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/gui/Application.h"

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    vorlr::Application app(argc, argv);
    return RUN_ALL_TESTS();
}
