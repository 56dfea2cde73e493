#include <gtest/gtest.h>

#include <csignal>

int main(int argc, char** argv) {
    // Peers that go away mid-write must give an error, not kill the test.
    std::signal(SIGPIPE, SIG_IGN);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
