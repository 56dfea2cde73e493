// Session configuration: the proxy dictionary, the connections per host, and
// the shared session.
#include <algorithm>

#include "SessionFixture.h"

namespace pellix::platform::urltest {
namespace {

using C = URLSessionConfiguration;

TEST(Proxy, UsedOnlyWhenEnabledWithHostAndPort) {
    Peer proxy(certs().leaf, true);  // a plain server answers absolute-form requests like a proxy
    struct Case {
        const char* name;
        Dictionary proxy;
        int code;  // 0: answered through the proxy
    };
    const std::vector<Case> cases = {
        {"enabled", {{C::kHTTPEnable, 1}, {C::kHTTPProxyHost, "127.0.0.1"}, {C::kHTTPProxyPort, proxy.port()}}, 0},
        {"no port", {{C::kHTTPEnable, 1}, {C::kHTTPProxyHost, "127.0.0.1"}}, -1004},
        {"disabled", {{C::kHTTPEnable, 0}, {C::kHTTPProxyHost, "127.0.0.1"}, {C::kHTTPProxyPort, proxy.port()}}, -1004},
        {"https only", {{C::kHTTPSEnable, 1}, {C::kHTTPSProxyHost, "127.0.0.1"}, {C::kHTTPSProxyPort, proxy.port()}},
         -1004},
    };
    for (const auto& c : cases) {
        auto config = C::defaultSessionConfiguration();
        config.setConnectionProxyDictionary(c.proxy);
        SessionUnderTest s(config);
        // Nothing listens there: only the proxy can answer.
        auto task = s.session->dataTaskWithURL(*URL::parse("http://127.0.0.2:1/small"));
        task->resume();
        ASSERT_TRUE(s.delegate->waitComplete(task->taskIdentifier())) << c.name;
        auto error = s.delegate->error(task->taskIdentifier());
        EXPECT_EQ(error ? error->code() : 0, c.code) << c.name;
        if (!c.code) {
            EXPECT_EQ(s.delegate->body(task->taskIdentifier()), "hello") << c.name;
        }
    }
}

// Every new TLS connection brings a server-trust challenge, so the count of
// challenged tasks is the count of connections. However wide the window, the
// session keeps all of its connections for the next round rather than
// handshaking again, and never opens more than its width.
TEST(ConnectionsPerHost, ARoundOpensAtMostTheWidthAndTheNextRoundReusesThem) {
    Peer peer(certs().leaf);
    struct Case {
        int width;
        int perRound;
    };
    for (const Case c : {Case{1, 4}, Case{48, 48}}) {
        auto config = C::defaultSessionConfiguration();
        config.setHTTPMaximumConnectionsPerHost(c.width);
        SessionUnderTest s(config);
        std::vector<std::uint64_t> ids;
        auto round = [&] {
            std::vector<std::shared_ptr<URLSessionDataTask>> tasks;
            for (int i = 0; i < c.perRound; ++i) tasks.push_back(s.session->dataTaskWithURL(peer.url("/small")));
            for (auto& t : tasks) t->resume();
            for (auto& t : tasks) {
                ASSERT_TRUE(s.delegate->waitComplete(t->taskIdentifier())) << c.width;
                EXPECT_EQ(s.delegate->body(t->taskIdentifier()), "hello") << c.width;
                ids.push_back(t->taskIdentifier());
            }
        };
        auto connections = [&] {
            int n = 0;
            for (auto id : ids) {
                const auto events = s.delegate->events(id);
                n += static_cast<int>(std::count(events.begin(), events.end(), "challenge"));
            }
            return n;
        };
        round();
        const int first = connections();
        EXPECT_GE(first, 1) << c.width;
        EXPECT_LE(first, c.width) << c.width;
        round();
        EXPECT_EQ(connections(), first) << "width " << c.width << ": the second round connected anew";
    }
}

TEST(SharedSession, AnswersThroughCompletionHandlers) {
    Peer peer(certs().leaf);
    auto shared = URLSession::sharedSession();
    EXPECT_EQ(shared, URLSession::sharedSession());
    std::mutex m;
    std::condition_variable cv;
    int status = 0;
    std::string body;
    shared->dataTaskWithURL(peer.url("/status/503"), [&](std::optional<Bytes> data, auto response, ErrorPtr error) {
              std::lock_guard lock(m);
              EXPECT_FALSE(error);
              status = response ? response->statusCode() : -1;
              if (data) body.assign(data->begin(), data->end());
              cv.notify_all();
          })->resume();
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, 30s, [&] { return status != 0; }));
    EXPECT_EQ(status, 503);
    EXPECT_EQ(body, "status 503");
    shared->invalidateAndCancel();  // ignored for the shared session
    lock.unlock();
    status = 0;
    shared->dataTaskWithURL(peer.url("/small"), [&](auto, auto response, ErrorPtr) {
              std::lock_guard l(m);
              status = response ? response->statusCode() : -1;
              cv.notify_all();
          })->resume();
    lock.lock();
    ASSERT_TRUE(cv.wait_for(lock, 30s, [&] { return status != 0; }));
    EXPECT_EQ(status, 200);
}

}  // namespace
}  // namespace pellix::platform::urltest
