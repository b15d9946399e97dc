// The main of the window tests: GoogleTest under the framework's application
// object, headless. Tests that need a different start-up keep their own main.
#include "vcl.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    vcl::Application application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
