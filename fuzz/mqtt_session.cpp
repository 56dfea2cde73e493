// The MQTT session driven by a hostile broker and a restless application.
//
// No sockets: a fake transport reports opening, closing and failing on the
// main queue and records every packet the session hands it. Time is a
// ManualClock, so the 1 s flow check, duplicate resends and keep-alive run
// only when the input advances it. After every step the main run loop is
// pumped until idle.
//
// Input:
//   byte 0  bits 0-1 protocol level (3 + v % 3), bit 2 clean session,
//           bit 3 flow store (0: the session's own SQLite store, 1: the
//           process-wide in-memory store), bits 4-7 store limit - 1 (1..16)
//   byte 1  bits 0-3 window size (0..15), bits 4-7 keep-alive seconds (0..15)
//   byte 2  bits 0-2 duplicate time-out - 1 (1..8 s), bit 3 the delegate
//           answers false to newMessageWithFeedback, bit 4 the transport
//           holds did-open back until asked
//   then a sequence of steps, each an opcode byte and its arguments:
//    0 raw n, bytes[n]         deliver n raw bytes from the broker
//    1 packet h n, body[n]     deliver header byte h, a length field, the body
//    2 connack f r k           CONNACK: flags f, return code (r < 128: 0, else r),
//                              at level 5 a server keep-alive of k % 20 when k != 0
//    3 publish f m n           PUBLISH from the broker: qos f % 4, retain, dup,
//                              level-5 properties (bit 4: present, bit 5: broken),
//                              mid chosen by m, n payload bytes
//    4 ack t m r               PUBACK/PUBREC/PUBREL/PUBCOMP/SUBACK/UNSUBACK (t % 6)
//                              for mid chosen by m, reason / granted value r
//    5 app-publish a           qos (a & 3) % 3, bit 2 handler, bit 3 retain, bits 4-5 topic,
//                              bits 6-7 payload size
//    6 subscribe a             bit 0 handler, bits 1-2 qos, bits 3-4 topic
//    7 unsubscribe a           bit 0 handler, bits 3-4 topic
//    8 close a                 close / close with handler / disconnect / close with a code
//    9 connect a               bit 0 with a connect handler, bit 1 flips clean session
//   10 transport fails
//   11 transport closes
//   12 write-fail a            the write side fails after a % 8 more sends (until the next open)
//   13 advance k               the clock moves k % 32 + 1 seconds, one second a step
//   14 arm w a                 when callback w % 14 next runs, it does action a (see act())
//   15 did-open                the held did-open arrives
//   16 drop                    the application lets go of the session (a new one, same
//                              client id and store, takes over at the next step)
//   17 PINGRESP / reserved / AUTH packet p
//   18 batch k                 the next k % 4 + 2 packets delivered arrive in one read
//   19 split p                 the next packet delivered arrives in two reads, cut by p
//
// Checked with abort(): no completion handler runs twice; every packet the
// session sends is one whole packet our parser reads at the session's level;
// the client's flows per direction never exceed the store's limit + 1; a QoS
// 1/2 publish never gets an id that a living outgoing flow holds, and a
// SUBSCRIBE or UNSUBSCRIBE none either; each connection starts with CONNECT;
// every QoS 1/2 PUBLISH sent has its flow, a waiting publish handler its
// flow, and a publish handler runs only once its flow has ended; a session
// that says it is connected has an open transport; the run loop goes idle;
// once everything is released no timer of the session fires any more.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "MQTTClient/MQTTCoreDataPersistence.h"
#include "MQTTClient/MQTTFrameDecoder.h"
#include "MQTTClient/MQTTInMemoryPersistence.h"
#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTMessage.h"
#include "MQTTClient/MQTTSession.h"
#include "MQTTClient/MQTTTransport.h"
#include "platform/DispatchQueue.h"
#include "platform/ManualClock.h"
#include "platform/RunLoop.h"

namespace {

using namespace pellix;
using platform::Bytes;

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

// MQTT_SESSION_FUZZ_TRACE=1 prints the steps and the packets sent, for triage.
bool tracing() {
    static const bool on = std::getenv("MQTT_SESSION_FUZZ_TRACE") != nullptr;
    return on;
}

void trace(const char* what, std::span<const std::uint8_t> bytes = {}) {
    if (!tracing()) {
        return;
    }
    std::fprintf(stderr, "%s", what);
    for (std::uint8_t b : bytes) {
        std::fprintf(stderr, " %02x", b);
    }
    std::fprintf(stderr, "\n");
}

void pump() {
    auto loop = platform::RunLoop::main();
    for (int turns = 0; loop->runOnce(0) > 0; ++turns) {
        check(turns < 100000);  // a session that never goes idle
    }
}

std::shared_ptr<platform::ManualClock> manualClock() {
    static const auto manual = [] {
        auto c = std::make_shared<platform::ManualClock>();
        platform::Clock::setShared(c);
        return c;
    }();
    return manual;
}

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    Bytes take(std::size_t n) {
        n = std::min(n, size_ - std::min(pos_, size_));
        Bytes out(data_ + pos_, data_ + pos_ + n);
        pos_ += n;
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// One whole packet from a header byte and a body.
Bytes frame(std::uint8_t header, const Bytes& body) {
    Bytes out{header};
    std::size_t n = body.size();
    do {
        std::uint8_t digit = n % 128;
        n /= 128;
        out.push_back(n > 0 ? digit | 0x80 : digit);
    } while (n > 0);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

void put16(Bytes& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

struct Run;

// Connection events reach the session on the main queue, as from a socket;
// each open() or close() starts a new generation and drops the old one's
// events still queued.
class FakeTransport : public MQTTTransport {
public:
    explicit FakeTransport(Run& run) : run_(run) {}

    void open() override;
    bool send(const Bytes& data) override;
    void close() override {
        ++generation_;
        setState(MQTTTransportStateClosing);
    }

    using Event = std::function<void(MQTTTransportDelegate&, MQTTTransport&)>;
    // Queues an event of the current connection; `open` says it needs an open one.
    void post(Event event, bool needsOpen) {
        std::weak_ptr<MQTTTransport> weak = shared_from_this();
        const auto generation = generation_;
        platform::DispatchQueue::main()->async([weak, generation, needsOpen, event = std::move(event)] {
            auto self = std::static_pointer_cast<FakeTransport>(weak.lock());
            if (!self || self->generation_ != generation ||
                (needsOpen && self->state() != MQTTTransportStateOpen)) {
                return;
            }
            if (auto d = self->delegate()) {
                event(*d, *self);
            }
        });
    }
    void opened() {
        post(
            [](MQTTTransportDelegate& d, MQTTTransport& t) {
                t.setState(MQTTTransportStateOpen);
                d.mqttTransportDidOpen(t);
            },
            false);
    }
    void deliver(Bytes bytes) {
        if (splitAt > 0 && bytes.size() > 1) {
            // This packet arrives in two reads.
            const std::size_t at = 1 + (splitAt - 1) % (bytes.size() - 1);
            splitAt = 0;
            deliver(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(at)));
            deliver(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end()));
            return;
        }
        if (batchLeft > 0) {
            // Several packets arrive in one read.
            batch.insert(batch.end(), bytes.begin(), bytes.end());
            if (--batchLeft > 0) {
                return;
            }
            bytes = std::move(batch);
            batch.clear();
        }
        post([bytes = std::move(bytes)](MQTTTransportDelegate& d, MQTTTransport& t) { d.mqttTransport(t, bytes); },
             true);
    }
    int batchLeft = 0;
    Bytes batch;
    std::size_t splitAt = 0;
    void fail() {
        post(
            [](MQTTTransportDelegate& d, MQTTTransport& t) {
                t.setState(MQTTTransportStateClosed);
                d.mqttTransport(t, MQTTSession::makeError(-1, "connection reset"));
            },
            true);
    }
    void closedByPeer() {
        post(
            [](MQTTTransportDelegate& d, MQTTTransport& t) {
                t.setState(MQTTTransportStateClosed);
                d.mqttTransportDidClose(t);
            },
            true);
    }

    bool holdOpen = false;
    int acceptBeforeFailing = -1;  // sends still taken before the write side fails; -1: no failure
    bool connectSent = false;  // on the current connection

private:
    Run& run_;
    std::uint64_t generation_ = 0;
};

// Every completion handler gets a slot; a second call is a fault.
struct Calls {
    struct Slot {
        int count = 0;
        std::uint16_t flowId = 0;  // the QoS 1/2 publish's id, while its handler waits
        std::uint64_t epoch = 0;
    };
    std::vector<Slot> slots;
    std::function<void()> take() {
        const std::size_t slot = slots.size();
        slots.emplace_back();
        return [this, slot] { check(++slots[slot].count == 1); };
    }
};

enum Callback : std::uint8_t {
    OnConnected,
    OnRefused,
    OnClosed,
    OnConnectionError,
    OnProtocolError,
    OnEvent,
    OnMessage,
    OnDelivered,
    OnSubAck,
    OnUnsubAck,
    OnHandler,
    OnSending,
    OnConnectionBlock,
    OnMessageBlock,
    kCallbacks
};

class Delegate : public MQTTSessionDelegate {
public:
    explicit Delegate(Run& run) : run_(run) {}
    void handleEvent(MQTTSession& s, MQTTSessionEvent, platform::ErrorPtr) override { fire(OnEvent, s); }
    void connected(MQTTSession& s, bool) override { fire(OnConnected, s); }
    void connectionRefused(MQTTSession& s, platform::ErrorPtr) override { fire(OnRefused, s); }
    void connectionClosed(MQTTSession& s) override { fire(OnClosed, s); }
    void connectionError(MQTTSession& s, platform::ErrorPtr) override { fire(OnConnectionError, s); }
    void protocolError(MQTTSession& s, platform::ErrorPtr) override { fire(OnProtocolError, s); }
    void newMessage(MQTTSession& s, const Bytes&, const std::string&, std::uint8_t, bool, std::uint32_t) override {
        fire(OnMessage, s);
    }
    bool newMessageWithFeedback(MQTTSession&, const Bytes&, const std::string&, std::uint8_t, bool,
                                std::uint32_t) override {
        return feedback;
    }
    void messageDelivered(MQTTSession& s, std::uint16_t) override { fire(OnDelivered, s); }
    void subAckReceived(MQTTSession& s, std::uint16_t, const platform::Array&) override { fire(OnSubAck, s); }
    void unsubAckReceived(MQTTSession& s, std::uint16_t) override { fire(OnUnsubAck, s); }
    void sending(MQTTSession& s, std::uint8_t, std::uint8_t, bool, bool, std::uint16_t, const Bytes&) override {
        fire(OnSending, s);
    }

    void fire(Callback where, MQTTSession& s);

    bool feedback = true;
    int armedAt = -1;
    std::uint8_t action = 0;

private:
    Run& run_;
};

const char* const kTopics[] = {"a", "a/b", "t/\xE4\xB8\xAD", "x/y/z"};
constexpr std::size_t kPayloads[] = {0, 1, 10, 300};

struct Run {
    std::uint8_t level = 4;
    bool clean = true;
    std::string clientId;
    std::uint16_t keepAlive = 0;
    double dupTimeout = 1;
    std::shared_ptr<MQTTPersistence> store;
    std::shared_ptr<FakeTransport> transport;
    std::shared_ptr<Delegate> delegate;
    std::shared_ptr<MQTTSession> session;
    Calls calls;
    std::vector<std::uint16_t> mids;  // ids seen in either direction, newest last
    int acts = 0;  // callbacks that called back into the session

    void remember(std::uint16_t mid) {
        if (mid == 0) {
            return;
        }
        mids.push_back(mid);
        if (mids.size() > 16) {
            mids.erase(mids.begin());
        }
    }
    std::uint16_t pickMid(std::uint8_t m) const {
        if (!mids.empty() && m < 224) {
            return mids[mids.size() - 1 - m % mids.size()];
        }
        return m;  // an id that most likely does not exist
    }

    MQTTSession& ensure() {
        if (!session) {
            session = MQTTSession::create();
            session->setClientId(clientId);
            session->setPersistence(store);
            session->setProtocolLevel(level);
            session->setCleanSessionFlag(clean);
            session->setKeepAliveInterval(keepAlive);
            session->setDupTimeout(dupTimeout);
            session->setTransport(transport);
            session->setDelegate(delegate);
            session->setConnectionHandler([this](MQTTSessionEvent) { block(OnConnectionBlock); });
            session->setMessageHandler([this](const Bytes&, const std::string&) { block(OnMessageBlock); });
        }
        return *session;
    }

    // Bumped when the session lets its waiting handlers go without calling
    // them: a connect with clean session, or a new session object.
    std::uint64_t epoch = 0;

    std::set<std::uint16_t> outgoingIds() const {
        std::set<std::uint16_t> ids;
        for (const auto& f : store->allFlowsforClientId(clientId, false)) {
            ids.insert(f->messageId().value_or(0));
        }
        return ids;
    }

    void publish(MQTTSession& s, std::uint8_t a) {
        const std::uint8_t qos = (a & 3) % 3;
        MQTTSession::PublishHandler handler;
        const std::size_t slot = calls.slots.size();
        if (a & 4) {
            handler = [once = calls.take(), this, slot](platform::ErrorPtr) {
                once();
                // A QoS 1/2 outcome comes when the flow has ended.
                const auto id = calls.slots[slot].flowId;
                check(id == 0 || !store->flowforClientId(clientId, false, id));
                handlerCalled();
            };
        }
        const Bytes payload(kPayloads[(a >> 6) & 3], 0x5A);
        const auto before = outgoingIds();
        const int actsBefore = acts;
        const std::uint16_t mid = s.publishData(payload, kTopics[(a >> 4) & 3], (a & 8) != 0, qos, handler);
        if (qos > 0 && mid != 0) {
            check(before.count(mid) == 0);
            // Unless a callback inside the call reconnected with a clean session.
            check(acts != actsBefore || store->flowforClientId(clientId, false, mid) != nullptr);
            if ((a & 4) && calls.slots[slot].count == 0 && acts == actsBefore) {
                calls.slots[slot].flowId = mid;
                calls.slots[slot].epoch = epoch;
            }
        }
        check(qos > 0 || mid == 0);
    }
    void subscribe(MQTTSession& s, std::uint8_t a) {
        MQTTSession::SubscribeHandler handler;
        if (a & 1) {
            handler = [once = calls.take(), this](platform::ErrorPtr, const std::optional<platform::Array>&) {
                once();
                handlerCalled();
            };
        }
        s.subscribeToTopic(std::string(kTopics[(a >> 3) & 3]) + ((a & 0x20) ? "/#" : ""), (a >> 1) & 3, handler);
    }
    void unsubscribe(MQTTSession& s, std::uint8_t a) {
        MQTTSession::UnsubscribeHandler handler;
        if (a & 1) {
            handler = [once = calls.take(), this](platform::ErrorPtr) {
                once();
                handlerCalled();
            };
        }
        s.unsubscribeTopic(std::string(kTopics[(a >> 3) & 3]), handler);
    }
    void close(MQTTSession& s, std::uint8_t a) {
        auto handler = [once = calls.take(), this](platform::ErrorPtr) {
            once();
            handlerCalled();
        };
        switch (a % 4) {
        case 0:
            s.close();
            break;
        case 1:
            s.closeWithDisconnectHandler(handler);
            break;
        case 2:
            s.disconnect();
            break;
        default:
            s.closeWithReturnCode(a >> 2, 30, std::string("bye"), std::nullopt, handler);
            break;
        }
    }
    void connect(MQTTSession& s, std::uint8_t a) {
        if (a & 2) {
            clean = !clean;
            s.setCleanSessionFlag(clean);
        }
        if (s.cleanSessionFlag()) {
            ++epoch;
        }
        if (a & 1) {
            s.connectWithConnectHandler([once = calls.take(), this](platform::ErrorPtr) {
                once();
                handlerCalled();
            });
        } else {
            s.connect();
        }
    }

    // What an armed callback does, from inside the session's call.
    void act(MQTTSession& s, std::uint8_t a) {
        ++acts;
        const std::uint8_t arg = a >> 3;
        switch (a % 8) {
        case 0:
            close(s, arg);
            break;
        case 1:
            connect(s, arg);
            break;
        case 2:
            publish(s, static_cast<std::uint8_t>(1 | (arg << 2)));
            break;
        case 3:
            publish(s, static_cast<std::uint8_t>(2 | (arg << 2)));
            break;
        case 4:
            subscribe(s, static_cast<std::uint8_t>(arg | 1));
            break;
        case 5:
            unsubscribe(s, static_cast<std::uint8_t>(arg | 1));
            break;
        case 6:
            drop();  // the session keeps itself alive until its call returns
            break;
        default:
            publish(s, static_cast<std::uint8_t>(arg << 2));
            break;
        }
    }

    void drop() {
        session.reset();
        ++epoch;
    }

    void handlerCalled() { block(OnHandler); }

    // A handler block carries no session; it acts on the one the application holds.
    void block(Callback where) {
        if (delegate->armedAt == where && session) {
            delegate->armedAt = -1;
            auto keep = session;
            act(*keep, delegate->action);
        }
    }

    // A packet the transport took.
    void accepted(const MQTTMessage& message) {
        // A connection starts with CONNECT.
        check(transport->connectSent || message.type() == MQTTConnect);
        transport->connectSent = true;
        if (message.type() == MQTTPublish && message.qos() > 0) {
            // Every QoS 1/2 PUBLISH that goes out belongs to a stored flow.
            auto flow = store->flowforClientId(clientId, false, message.mid());
            check(flow && flow->qosLevel().value_or(0) == message.qos());
        }
        if (message.type() == MQTTSubscribe || message.type() == MQTTUnsubscribe) {
            check(!store->flowforClientId(clientId, false, message.mid()));
        }
    }

    MQTTMessagePtr sent(const Bytes& data) {
        trace("  sent", data);
        // One whole packet per send, readable by our own parser.
        MQTTFrameDecoder frames;
        frames.open();
        int packets = 0;
        frames.feed(data, [&](std::span<const std::uint8_t> p) {
            check(p.size() == data.size());
            ++packets;
            return true;
        });
        check(packets == 1);
        auto message = MQTTMessage::messageFromData(data, level);
        check(message != nullptr);
        switch (message->type()) {
        case MQTTPublish:
        case MQTTSubscribe:
        case MQTTUnsubscribe:
        case MQTTPubrel:
            remember(message->mid());
            break;
        default:
            break;
        }
        return message;
    }

    void invariants() {
        // A QoS 1/2 publish handler still waiting has its flow in the store.
        for (const auto& slot : calls.slots) {
            if (slot.flowId != 0 && slot.count == 0 && slot.epoch == epoch) {
                check(store->flowforClientId(clientId, false, slot.flowId) != nullptr);
            }
        }
        const std::uint64_t limit = store->maxMessages() + 1;
        check(store->allFlowsforClientId(clientId, false).size() <= limit);
        check(store->allFlowsforClientId(clientId, true).size() <= limit);
        if (session && session->status() == MQTTSessionStatusConnected) {
            check(session->transport() == transport && transport->state() == MQTTTransportStateOpen);
        }
    }
};

void FakeTransport::open() {
    ++generation_;
    connectSent = false;
    acceptBeforeFailing = -1;
    setState(MQTTTransportStateOpening);
    if (!holdOpen) {
        opened();
    }
}

bool FakeTransport::send(const Bytes& data) {
    auto message = run_.sent(data);
    if (state() != MQTTTransportStateOpen) {
        return false;
    }
    // A failed write ends the write side: every later send on this
    // connection fails too, as on a socket.
    if (acceptBeforeFailing == 0) {
        return false;
    }
    if (acceptBeforeFailing > 0) {
        --acceptBeforeFailing;
    }
    run_.accepted(*message);
    return true;
}

void Delegate::fire(Callback where, MQTTSession& s) {
    if (armedAt != where) {
        return;
    }
    armedAt = -1;
    std::uint8_t a = action;
    if (where == OnSending) {
        // From the hook before a write only close, reconnect or drop: a packet
        // sent from there goes out ahead of the one being written (before
        // CONNECT, say), which the hook's callers are left to avoid.
        static const std::uint8_t allowed[] = {0, 1, 6};
        a = static_cast<std::uint8_t>((a & ~7) | allowed[a % 3]);
        if ((a & 7) == 0 && ((a >> 3) & 3) == 2) {
            a ^= 1 << 3;  // disconnect() writes DISCONNECT whatever the state; the other closes don't
        }
    }
    run_.act(s, a);
}

void step(Run& run, Reader& in) {
    const std::uint8_t op = in.byte() % 20;
    if (tracing()) {
        std::fprintf(stderr, "step %d (status %d) flows out:", op,
                     run.session ? static_cast<int>(run.session->status()) : -1);
        for (auto id : run.outgoingIds()) {
            std::fprintf(stderr, " %d", id);
        }
        std::fprintf(stderr, "\n");
    }
    FakeTransport& t = *run.transport;
    const auto level5 = run.level == 5;
    switch (op) {
    case 0:
        t.deliver(in.take(in.byte()));
        break;
    case 1: {
        const std::uint8_t header = in.byte();
        t.deliver(frame(header, in.take(in.byte())));
        break;
    }
    case 2: {
        const std::uint8_t flags = in.byte(), r = in.byte(), k = in.byte();
        Bytes body{static_cast<std::uint8_t>(flags & 1), static_cast<std::uint8_t>(r < 128 ? 0 : r)};
        if (level5) {
            if (k != 0) {
                body.insert(body.end(), {3, 0x13});
                put16(body, k % 20);
            } else {
                body.push_back(0);
            }
        }
        t.deliver(frame(0x20, body));
        break;
    }
    case 3: {
        const std::uint8_t f = in.byte(), m = in.byte(), n = in.byte();
        const std::uint8_t qos = f & 3;
        Bytes body;
        put16(body, 3);
        body.insert(body.end(), {'a', '/', 'b'});
        if (qos > 0) {
            const std::uint16_t mid = run.pickMid(m);
            put16(body, mid);
            run.remember(mid);
        }
        if (level5) {
            if (f & 0x10) {
                body.insert(body.end(), {2, 0x01, 0x01});  // payload format indicator
            } else if (f & 0x20) {
                body.insert(body.end(), {9, 0x01});  // runs past the packet
            } else {
                body.push_back(0);
            }
        }
        const Bytes payload = in.take(n);
        body.insert(body.end(), payload.begin(), payload.end());
        const auto header = static_cast<std::uint8_t>(0x30 | qos << 1 | (f & 4 ? 8 : 0) | (f & 8 ? 1 : 0));
        t.deliver(frame(header, body));
        break;
    }
    case 4: {
        static const std::uint8_t types[] = {0x40, 0x50, 0x62, 0x70, 0x90, 0xB0};
        const std::uint8_t type = types[in.byte() % 6];
        const std::uint16_t mid = run.pickMid(in.byte());
        const std::uint8_t r = in.byte();
        Bytes body;
        put16(body, mid);
        if (type == 0x90) {
            if (level5) {
                body.push_back(0);
            }
            body.push_back(r % 4 == 3 ? 0x80 : r % 4);
            if (r & 0x40) {
                body.push_back(1);  // more codes than topics asked for
            }
        } else if (level5 && (r != 0 || type == 0xB0)) {
            body.push_back(type == 0xB0 ? 0 : r);  // UNSUBACK: properties, then a code
            body.push_back(type == 0xB0 ? r : 0);
        }
        t.deliver(frame(type, body));
        break;
    }
    case 5:
        run.publish(run.ensure(), in.byte());
        break;
    case 6:
        run.subscribe(run.ensure(), in.byte());
        break;
    case 7:
        run.unsubscribe(run.ensure(), in.byte());
        break;
    case 8:
        run.close(run.ensure(), in.byte());
        break;
    case 9:
        run.connect(run.ensure(), in.byte());
        break;
    case 10:
        t.fail();
        break;
    case 11:
        t.closedByPeer();
        break;
    case 12:
        t.acceptBeforeFailing = in.byte() % 8;
        break;
    case 13: {
        const int seconds = in.byte() % 32 + 1;
        for (int i = 0; i < seconds; ++i) {
            manualClock()->advance(1.0);
            pump();
            run.invariants();
        }
        break;
    }
    case 14:
        run.delegate->armedAt = in.byte() % kCallbacks;
        run.delegate->action = in.byte();
        break;
    case 15:
        t.opened();
        break;
    case 16:
        run.drop();
        break;
    case 18:
        t.batchLeft = in.byte() % 4 + 2;
        t.batch.clear();
        break;
    case 19:
        t.splitAt = in.byte() + 1u;
        break;
    default: {
        static const std::uint8_t headers[] = {0xD0, 0x00, 0xF0, 0xC0, 0x10, 0x80, 0xA2, 0xE0};
        const std::uint8_t p = in.byte();
        t.deliver(frame(headers[p % 8], in.take(p >> 5)));
        break;
    }
    }
    pump();
    run.invariants();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = (pellix::MQTTLog::setLogLevel(0), true);
    (void)quiet;
    manualClock();
    if (size < 3) {
        return 0;
    }
    Reader in(data, size);
    const std::uint8_t b0 = in.byte(), b1 = in.byte(), b2 = in.byte();
    {
        Run run;
        run.level = static_cast<std::uint8_t>(3 + (b0 & 3) % 3);
        run.clean = (b0 & 4) != 0;
        if (b0 & 8) {
            run.store = MQTTInMemoryPersistence::create();
        } else {
            run.store = MQTTCoreDataPersistence::create();
        }
        run.store->setMaxMessages((b0 >> 4) + 1);
        run.store->setMaxWindowSize(b1 & 15);
        run.keepAlive = b1 >> 4;
        run.dupTimeout = (b2 & 7) + 1;
        run.clientId = "fuzz-session";
        run.store->deleteAllFlowsForClientId(run.clientId);
        run.transport = std::make_shared<FakeTransport>(run);
        run.transport->holdOpen = (b2 & 16) != 0;
        run.delegate = std::make_shared<Delegate>(run);
        run.delegate->feedback = (b2 & 8) == 0;
        run.ensure();

        while (!in.empty()) {
            step(run, in);
        }

        // Tear down: nothing may outlive the input.
        run.delegate->armedAt = -1;
        if (run.session) {
            run.session->close();
            pump();
        }
        run.session.reset();
        pump();
        run.store->deleteAllFlowsForClientId(run.clientId);
        run.transport.reset();
        run.delegate.reset();
        pump();
    }
    // Nothing of the session goes on running once it is gone: no timer fires.
    check(manualClock()->advance(120.0) == 0);
    pump();
    return 0;
}
