// MQTTSession blocking API: start an operation, then run the calling thread's
// run loop in 0.1 s steps until the session clears the wait flag or the
// time-out (real time) has passed.
#include <chrono>

#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTSession.h"
#include "platform/DispatchQueue.h"
#include "platform/RunLoop.h"

namespace pellix {

namespace {

using SteadyClock = std::chrono::steady_clock;

bool before(SteadyClock::time_point start, double timeout) {
    return timeout == 0 ||
           SteadyClock::now() < start + std::chrono::duration_cast<SteadyClock::duration>(
                                            std::chrono::duration<double>(timeout));
}

}  // namespace

void MQTTSession::runOnQueue(const std::function<void()>& block) {
    // The session lives on its queue; a caller on another thread starts the
    // operation there instead of racing the session's own callbacks.
    auto queue = queue_;
    if (!queue || queue->isCurrent()) {
        block();
    } else {
        queue->sync(block);
    }
}

void MQTTSession::wait(std::atomic<bool>& flag, double timeout, const char* waiting, const char* end,
                       const std::atomic<std::uint16_t>* mid) {
    const auto start = SteadyClock::now();
    auto loop = platform::RunLoop::current();
    while (flag && before(start, timeout)) {
        if (MQTTLog::enabled(MQTTLogLevelVerbose)) {
            MQTTLog::log(MQTTLogLevelVerbose, waiting, mid ? static_cast<int>(mid->load()) : 0);
        }
        loop->runOnce(0.1);
    }
    MQTT_LOG_VERBOSE("%s", end);
}

bool MQTTSession::connectAndWaitTimeout(double timeout) {
    auto self = shared_from_this();
    synchronConnect_ = true;
    runOnQueue([this] { connect(); });
    wait(synchronConnect_, timeout, "[MQTTSessionSynchron] waiting for connect", "[MQTTSessionSynchron] end connect",
         nullptr);
    return status_ == MQTTSessionStatusConnected;
}

bool MQTTSession::connectAndWaitToHost(const std::string& host, std::uint32_t port, bool usingSSL, double timeout) {
    auto self = shared_from_this();
    synchronConnect_ = true;
    runOnQueue([&] { connectToHost(host, port, usingSSL); });
    wait(synchronConnect_, timeout, "[MQTTSessionSynchron] waiting for connect", "[MQTTSessionSynchron] end connect",
         nullptr);
    return status_ == MQTTSessionStatusConnected;
}

bool MQTTSession::subscribeAndWaitToTopic(const std::string& topic, std::uint8_t qos, double timeout) {
    platform::Dictionary topics;
    topics.set(topic, platform::Value(static_cast<int>(qos)));
    return subscribeAndWaitToTopics(topics, timeout);
}

bool MQTTSession::subscribeAndWaitToTopics(const platform::Dictionary& topics, double timeout) {
    auto self = shared_from_this();
    std::uint16_t mid = 0;
    synchronSub_ = true;
    runOnQueue([&] {
        mid = subscribeToTopics(topics);
        synchronSubMid_ = mid;
        if (mid == 0) {
            synchronSub_ = false;  // refused at once: nothing to wait for
        }
    });
    wait(synchronSub_, timeout, "[MQTTSessionSynchron] waiting for suback %d", "[MQTTSessionSynchron] end subscribe",
         &synchronSubMid_);
    return mid != 0 && !synchronSub_ && synchronSubMid_ == mid;
}

bool MQTTSession::unsubscribeAndWaitTopic(const std::string& topic, double timeout) {
    return unsubscribeAndWaitTopics({topic}, timeout);
}

bool MQTTSession::unsubscribeAndWaitTopics(const std::vector<std::string>& topics, double timeout) {
    auto self = shared_from_this();
    std::uint16_t mid = 0;
    synchronUnsub_ = true;
    runOnQueue([&] {
        mid = unsubscribeTopics(topics);
        synchronUnsubMid_ = mid;
        if (mid == 0) {
            synchronUnsub_ = false;
        }
    });
    wait(synchronUnsub_, timeout, "[MQTTSessionSynchron] waiting for unsuback %d",
         "[MQTTSessionSynchron] end unsubscribe", &synchronUnsubMid_);
    return mid != 0 && !synchronUnsub_ && synchronUnsubMid_ == mid;
}

bool MQTTSession::publishAndWaitData(const platform::Bytes& data, const std::string& topic, bool retain,
                                     std::uint8_t qos, double timeout) {
    auto self = shared_from_this();
    std::uint16_t mid = 0;
    if (qos != 0) {
        synchronPub_ = true;
    }
    runOnQueue([&] {
        mid = publishData(data, topic, retain, qos);
        synchronPubMid_ = mid;
    });
    if (qos == 0) {
        return true;
    }
    if (mid == 0) {
        // Refused at once (store full, no free id): nothing to wait for.
        synchronPub_ = false;
        return false;
    }
    wait(synchronPub_, timeout, "[MQTTSessionSynchron] waiting for mid %d", "[MQTTSessionSynchron] end publish",
         &synchronPubMid_);
    return !synchronPub_ && synchronPubMid_ == mid;
}

void MQTTSession::closeAndWait(double timeout) {
    auto self = shared_from_this();
    synchronDisconnect_ = true;
    runOnQueue([this] { close(); });
    // An orderly close ends in status closed without an error; that ends the
    // wait too, so a wait without a time-out returns.
    const auto start = SteadyClock::now();
    auto loop = platform::RunLoop::current();
    while (synchronDisconnect_ && status_ != MQTTSessionStatusClosed && before(start, timeout)) {
        MQTT_LOG_VERBOSE("[MQTTSessionSynchron] waiting for close");
        loop->runOnce(0.1);
    }
    synchronDisconnect_ = false;
    MQTT_LOG_VERBOSE("[MQTTSessionSynchron] end close");
}

}  // namespace pellix
