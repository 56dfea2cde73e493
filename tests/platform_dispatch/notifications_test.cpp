// NotificationCenter: filters, synchronous delivery, and changes made while a
// post is being delivered.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/DispatchQueue.h"
#include "platform/DispatchSemaphore.h"
#include "platform/NotificationCenter.h"

using namespace pellix::platform;

TEST(NotificationCenterTest, NameAndObjectFiltersMatchAsRegistered) {
    NotificationCenter nc;
    int a = 0, b = 0;
    struct Case {
        const char* what;
        std::string name;
        const void* object;
        std::vector<int> expect;  // which of four posts it sees
    };
    // Posts: ("X", &a), ("X", &b), ("Y", &a), ("X", no object)
    const std::vector<Case> cases = {
        {"any name, any object", "", nullptr, {0, 1, 2, 3}},
        {"name only", "X", nullptr, {0, 1, 3}},
        {"object only", "", &a, {0, 2}},
        {"name and object", "X", &b, {1}},
    };
    std::vector<std::vector<int>> got(cases.size());
    int post = -1;
    for (std::size_t i = 0; i < cases.size(); ++i)
        nc.addObserver(cases[i].name, cases[i].object, nullptr, [&, i](const Notification&) { got[i].push_back(post); });
    post = 0;
    nc.post("X", &a);
    post = 1;
    nc.post("X", &b);
    post = 2;
    nc.post("Y", &a);
    post = 3;
    nc.post("X");
    for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(got[i], cases[i].expect) << cases[i].what;
}

TEST(NotificationCenterTest, DeliversSynchronouslyWithPayloadInRegistrationOrder) {
    NotificationCenter nc;
    std::vector<int> order;
    auto sender = std::make_shared<std::string>("sender");
    std::string seenUser, seenObject;
    for (int i = 0; i < 3; ++i)
        nc.addObserver("N", nullptr, nullptr, [&, i](const Notification& n) {
            order.push_back(i);
            seenUser = n.userInfo().find("k")->asString();
            seenObject = *std::static_pointer_cast<std::string>(n.object());
        });
    nc.post("N", sender, Dictionary{{"k", "v"}});
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(seenUser, "v");
    EXPECT_EQ(seenObject, "sender");
}

TEST(NotificationCenterTest, ObserversRemovedDuringDeliveryAreNotCalledAgain) {
    NotificationCenter nc;
    std::vector<std::string> calls;
    NotificationCenter::Token second = 0, third = 0;
    auto first = nc.addObserver("N", nullptr, nullptr, [&](const Notification&) {
        calls.push_back("first");
        nc.removeObserver(second);  // later in this same post
    });
    second = nc.addObserver("N", nullptr, nullptr, [&](const Notification&) { calls.push_back("second"); });
    third = nc.addObserver("N", nullptr, nullptr, [&](const Notification&) {
        calls.push_back("third");
        nc.removeObserver(third);  // itself, while running
        nc.addObserver("N", nullptr, nullptr, [&](const Notification&) { calls.push_back("added"); });
    });
    nc.post("N");
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "third"})) << "no removed observer runs; added ones wait";
    calls.clear();
    nc.post("N");
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "added"}));
    nc.removeObserver(first);
    nc.removeObserver(first);  // twice is harmless
    EXPECT_EQ(nc.observerCount(), 1u);
}

TEST(NotificationCenterTest, OwnerRemovalDropsAllItsRegistrationsAndTheirCaptures) {
    NotificationCenter nc;
    int owner = 0, other = 0;
    int ownerCalls = 0, otherCalls = 0;
    auto capture = std::make_shared<int>(1);
    std::weak_ptr<int> weak = capture;
    nc.addObserverWithOwner(&owner, "A", nullptr, [&, capture](const Notification&) { ++ownerCalls; });
    nc.addObserverWithOwner(&owner, "B", nullptr, [&](const Notification&) { ++ownerCalls; });
    nc.addObserverWithOwner(&other, "A", nullptr, [&](const Notification&) { ++otherCalls; });
    capture.reset();
    nc.removeObserver(&owner, "B");
    nc.post("B");
    EXPECT_EQ(ownerCalls, 0);
    nc.removeObserver(&owner);
    EXPECT_TRUE(weak.expired());
    nc.post("A");
    EXPECT_EQ(ownerCalls, 0);
    EXPECT_EQ(otherCalls, 1);
}

TEST(NotificationCenterTest, QueueObserverRunsOnItsQueue) {
    NotificationCenter nc;
    auto q = DispatchQueue::serial("observer.queue");
    DispatchSemaphore done(0);
    bool onQueue = false;
    nc.addObserver("N", nullptr, q, [&](const Notification&) {
        onQueue = q->isCurrent();
        done.signal();
    });
    nc.post("N");
    ASSERT_TRUE(done.waitSeconds(5));
    EXPECT_TRUE(onQueue);
    // Posting from the observer's own queue calls it inline.
    int inlineCalls = 0;
    q->sync([&] {
        nc.post("N");
        inlineCalls = done.waitSeconds(0) ? 1 : 0;
    });
    EXPECT_EQ(inlineCalls, 1);
}

TEST(NotificationCenterTest, ConcurrentPostsAndRemovalsAreSafe) {
    NotificationCenter nc;
    std::atomic<bool> stop{false};
    std::atomic<long> calls{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            while (!stop.load()) nc.post("N");
        });
    for (int i = 0; i < 2000; ++i) {
        auto tok = nc.addObserver("N", nullptr, nullptr, [&](const Notification&) { ++calls; });
        nc.removeObserver(tok);
    }
    stop = true;
    for (auto& th : threads) th.join();
    EXPECT_EQ(nc.observerCount(), 0u);
}

TEST(NotificationCenterTest, DefaultCenterIsOneInstance) {
    EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
}
