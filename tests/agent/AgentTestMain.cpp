// Runs the tests that drive the agent library through its exports. The first argument names the
// library built in this tree.
#include "AgentLibrary.h"

#include <cstdio>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s AGENT_LIBRARY [gtest options]\n", argv[0]);
        return 2;
    }
    AgentLibrary::builtLibrary = std::filesystem::absolute(argv[1]);
    return RUN_ALL_TESTS();
}
