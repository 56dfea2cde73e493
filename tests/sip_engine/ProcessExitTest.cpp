// A host that links the SIP engine must be able to exit while GLib threads
// (GStreamer's, for one) are still starting or ending: the library
// destructors that run at exit must leave GLib's thread keys alone.
#include <glib.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "support/TestSupport.h"

namespace {

// Each short-lived thread takes GLib's per-thread slice memory (the first
// slice allocation of a thread stores it under GLib's key) and gives it back
// when it ends.
void* touchSliceMemory(void*) {
    g_slice_free1(16, g_slice_alloc(16));
    return nullptr;
}

void* keepStartingThreads(void*) {
    for (;;) {
        pthread_t t;
        if (pthread_create(&t, nullptr, touchSliceMemory, nullptr) == 0) pthread_join(t, nullptr);
    }
    return nullptr;
}

TEST(ProcessExitChild, ReturnsWhileGLibThreadsRun) {
    if (!std::getenv("PELLIX_EXIT_CHILD")) GTEST_SKIP() << "child of ProcessExit.GLibThreadsSurviveTheLibraryDestructors";
    for (int i = 0; i < 4; ++i) {
        pthread_t t;
        ASSERT_EQ(pthread_create(&t, nullptr, keepStartingThreads, nullptr), 0);
        pthread_detach(t);
    }
    usleep(20000);
}

TEST(ProcessExit, GLibThreadsSurviveTheLibraryDestructors) {
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = 0;
    // Each exit is one chance for a thread to meet a deleted key; a few
    // rounds make a miss unlikely without making the test slow.
    for (int round = 0; round < 5; ++round) {
        pellix::test::Process child({self, "--gtest_filter=ProcessExitChild.*"}, {{"PELLIX_EXIT_CHILD", "1"}});
        ASSERT_EQ(child.wait(), 0) << "round " << round << "\n" << child.errorOutput();
    }
}

}  // namespace
