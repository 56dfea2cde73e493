#pragma once
// Wakes the thread that pumps the engine as soon as sofia has something to
// do: a SIP message on its sockets or an answer from the name server. The
// engine's regular pump still runs; this only spares a message the wait for
// the next round. Work the engine's own thread hands to sofia (a request
// made through the API) rings no bell in sofia, so the engine asks for the
// next round itself with soon().
//
// sofia keeps its event sources to itself. The descriptors it opens while
// its root and stack are created (its own event set among them, which
// becomes readable whenever any source it watches later does) are found by
// comparing the process's open descriptors before and after, and watched in
// an event set of ours on the process's socket reactor. When one is readable,
// `wake` is posted (at most one at a time) to the run loop of the thread that
// made this object; a run loop nobody drives simply never runs it.
//
// Threads: made, used and destroyed on the engine's thread; `wake` runs
// there too, never after destruction.
#include <functional>
#include <memory>
#include <vector>

namespace client {

class SofiaWake {
public:
    // The process's open descriptors (device and inode of each), to compare with later.
    struct Snapshot {
        std::vector<std::pair<int, unsigned long long>> open;  // descriptor, inode
    };
    static Snapshot snapshot();

    explicit SofiaWake(std::function<void()> wake);
    ~SofiaWake();
    SofiaWake(const SofiaWake&) = delete;
    SofiaWake& operator=(const SofiaWake&) = delete;

    // Watches every socket and event set opened since `before`; the number watched.
    int watchOpenedSince(const Snapshot& before);
    // Posts `wake` now (unless one is already waiting).
    void soon();

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace client
