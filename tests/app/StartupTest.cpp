// How `vesko` starts: the windowless run loads no toolkit, and libcurl only
// for a request that goes over the network.

#include "tests/support/Subprocess.hpp"

#include <gtest/gtest.h>

namespace {

TEST(Startup, TheWindowlessRunLoadsNoToolkitNoWebEngineAndNoNetworkLibrary) {
    // The dynamic loader names every library it loads on standard error.
    auto run = vesko::testing::runProgram({VESKO_EXECUTABLE, "--stdio"},
                                          "{\"action\":\"save-file\",\"callbackId\":\"c\",\"base64\":\"!\"}\n",
                                          {{"LD_DEBUG", "files"}});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.out.find("Invalid base64 data"), std::string::npos);
    EXPECT_NE(run.err.find("libglib-2.0"), std::string::npos) << "the loader's report is missing";
    for (const char* library :
         {"libgtk", "libgdk", "libwebkit", "libjavascriptcore", "libX11", "vesko-desktop", "libgio", "libcurl"})
        EXPECT_EQ(run.err.find(library), std::string::npos) << library << " was loaded";
}

}  // namespace
