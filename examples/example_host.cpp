// The example host: a small program that uses the library the way a
// resident's app would. It grows with the library.
#include <cstdio>

#include "PellixClient/PellixSDKVersion.h"
#include "platform/DispatchQueue.h"
#include "platform/DispatchSemaphore.h"
#include "platform/RunLoop.h"

using namespace pellix::platform;

int main() {
    // This host has no event loop of its own: the library runs the main loop.
    RunLoop::startMainLoopThread();

    DispatchSemaphore done(0);
    DispatchQueue::main()->async([&done] {
        std::printf("Pellix SDK %.1f\n", pellix::PellixSDKVersionNumber);
        std::fflush(stdout);
        done.signal();
    });
    const bool ok = done.waitSeconds(10);

    RunLoop::stopMainLoopThread();
    return ok ? 0 : 1;
}
