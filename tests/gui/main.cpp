// Each test runs in a process of its own (ctest); the X server and bus that
// a test started are stopped here by their process ids.
#include "tests/gui/GuiHarness.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    vesko::gui::shutdownDesktop();
    // GTK still holds a connection to the X server that is gone now; leave
    // without running exit handlers that would touch it.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(result);
}
