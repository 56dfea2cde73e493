// The request's network settings as the session honours them: the session's
// cookie store (per session, used only by requests that handle cookies), and
// cellular access (refused where the route leaves through an interface the
// system reports as mobile broadband).
#include <filesystem>
#include <fstream>

#include "SessionFixture.h"
#include "platform/Reachability.h"

namespace pellix::platform::urltest {
namespace {

// Sends one request and answers "<status or error code> <body>".
std::string fetch(SessionUnderTest& s, const URLRequest& request) {
    auto task = s.session->dataTaskWithRequest(request);
    task->resume();
    if (!s.delegate->waitComplete(task->taskIdentifier())) return "timed out";
    if (auto error = s.delegate->error(task->taskIdentifier())) return std::to_string(error->code());
    return "200 " + s.delegate->body(task->taskIdentifier());
}

URLRequest cookieRequest(const Peer& peer, const std::string& query, bool handleCookies) {
    URLRequest r(peer.url("/cookie" + query));
    r.setHTTPShouldHandleCookies(handleCookies);
    return r;
}

TEST(Cookies, TheSessionsStoreWhenHandledNoneWhenNot) {
    Peer peer(certs().leaf);
    SessionUnderTest s;
    // Not handled: the answer's cookie is not kept.
    EXPECT_EQ(fetch(s, cookieRequest(peer, "?set=ignored", false)), "200 ");
    EXPECT_EQ(fetch(s, cookieRequest(peer, "", true)), "200 ");
    // Handled: kept and sent again, but not by a request that does not handle them.
    EXPECT_EQ(fetch(s, cookieRequest(peer, "?set=kept", true)), "200 ");
    EXPECT_EQ(fetch(s, cookieRequest(peer, "", true)), "200 px=kept");
    EXPECT_EQ(fetch(s, cookieRequest(peer, "", false)), "200 ");
    // A caller's own Cookie field goes out either way.
    URLRequest own = cookieRequest(peer, "", false);
    own.setValue(std::string("mine=1"), "Cookie");
    EXPECT_EQ(fetch(s, own), "200 mine=1");

    // Each session has a store of its own.
    SessionUnderTest other;
    EXPECT_EQ(fetch(other, cookieRequest(peer, "", true)), "200 ");
}

// Makes the loopback interface read as a mobile-broadband device for as long
// as it lives.
class LoopbackAsCellular {
public:
    LoopbackAsCellular() {
        std::filesystem::create_directories(dir_.path() + "/lo");
        std::ofstream(dir_.path() + "/lo/uevent") << "DEVTYPE=wwan\nINTERFACE=lo\n";
        Reachability::setInterfaceInfoDirectory(dir_.path());
    }
    ~LoopbackAsCellular() { Reachability::setInterfaceInfoDirectory(""); }

private:
    test::TempDir dir_;
};

TEST(CellularAccess, RefusedOnlyWhenOffAndTheRouteIsCellular) {
    Peer peer(certs().leaf);
    SessionUnderTest s;
    auto request = [&](bool allowed) {
        URLRequest r(peer.url("/small"));
        r.setAllowsCellularAccess(allowed);
        return r;
    };
    // Loopback is no cellular interface: both go out.
    EXPECT_EQ(fetch(s, request(false)), "200 hello");
    EXPECT_EQ(fetch(s, request(true)), "200 hello");
    {
        LoopbackAsCellular cellular;
        auto flags = Reachability::withName("127.0.0.1")->flags();
        ASSERT_TRUE(flags && (*flags & Reachability::kIsWWAN)) << "the fake interface facts were not read";
        EXPECT_EQ(fetch(s, request(true)), "200 hello");
        // Refused even though the session holds an open connection to the peer.
        EXPECT_EQ(fetch(s, request(false)), "-1009");
    }
    EXPECT_EQ(fetch(s, request(false)), "200 hello");
}

}  // namespace
}  // namespace pellix::platform::urltest
