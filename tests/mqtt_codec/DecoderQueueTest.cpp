// The decoder on its queue: packets and events arrive there, in order;
// close() works from the queue and from other threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "CodecTestUtil.h"
#include "MQTTClient/MQTTDecoder.h"
#include "MQTTClient/MQTTLog.h"
#include "platform/DispatchQueue.h"

using pellix::MQTTDecoder;
using pellix::MQTTDecoderEvent;
using pellix::platform::Bytes;
using pellix::platform::DispatchQueue;
using pellix::test::hex;
using pellix::test::toHex;

namespace {

class Recorder : public pellix::MQTTDecoderDelegate {
public:
    void decoder(MQTTDecoder& decoder, std::span<const std::uint8_t> message) override {
        std::lock_guard lock(mutex);
        packets.push_back(toHex(Bytes(message.begin(), message.end())));
        allOnQueue = allOnQueue && decoder.queue()->isCurrent();
        if (onPacket) onPacket(decoder);
    }
    void decoder(MQTTDecoder& decoder, MQTTDecoderEvent event, pellix::platform::ErrorPtr error) override {
        std::lock_guard lock(mutex);
        events.push_back(event);
        errors.push_back(error);
        allOnQueue = allOnQueue && decoder.queue()->isCurrent();
    }
    std::mutex mutex;
    std::vector<std::string> packets;
    std::vector<MQTTDecoderEvent> events;
    std::vector<pellix::platform::ErrorPtr> errors;
    bool allOnQueue = true;
    std::function<void(MQTTDecoder&)> onPacket;
};

class DecoderQueue : public ::testing::Test {
protected:
    void SetUp() override {
        pellix::MQTTLog::setLogLevel(0);
        decoder = MQTTDecoder::create();
        decoder->setQueue(queue);
        decoder->setDelegate(recorder);
    }
    void settle() { queue->sync([] {}); }
    std::shared_ptr<DispatchQueue> queue = DispatchQueue::serial("decoder.test");
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::shared_ptr<MQTTDecoder> decoder;
};

}  // namespace

TEST(DecoderDefaults, StartsIdleOnTheMainQueue) {
    auto decoder = MQTTDecoder::create();
    EXPECT_EQ(decoder->queue(), DispatchQueue::main());
    EXPECT_EQ(decoder->state(), pellix::MQTTDecoderStateIdle);
}

TEST_F(DecoderQueue, PacketsArriveInOrderOnTheQueue) {
    decoder->open();
    decoder->decodeMessage(hex("D0 00 D0 00"));
    decoder->decodeMessage(hex("30 03 00 01"));
    decoder->decodeMessage(hex("74 40 02 00"));
    decoder->decodeMessage(hex("07"));
    settle();
    EXPECT_EQ(recorder->packets, (std::vector<std::string>{"D0 00", "D0 00", "30 03 00 01 74", "40 02 00 07"}));
    EXPECT_TRUE(recorder->events.empty());
    EXPECT_TRUE(recorder->allOnQueue);
    EXPECT_EQ(decoder->state(), pellix::MQTTDecoderStateHeader);
}

TEST_F(DecoderQueue, ChunksWaitUntilOpen) {
    decoder->decodeMessage(hex("D0 00"));
    settle();
    EXPECT_TRUE(recorder->packets.empty());
    EXPECT_EQ(decoder->state(), pellix::MQTTDecoderStateIdle);
    decoder->open();
    settle();
    EXPECT_EQ(recorder->packets, std::vector<std::string>{"D0 00"});
}

TEST_F(DecoderQueue, OversizedLengthIsAProtocolErrorOnce) {
    decoder->open();
    decoder->decodeMessage(hex("D0 00 30 FF FF FF 7F"));
    decoder->decodeMessage(hex("D0 00"));
    settle();
    EXPECT_EQ(recorder->packets, std::vector<std::string>{"D0 00"});
    ASSERT_EQ(recorder->events.size(), 1u);
    EXPECT_EQ(recorder->events[0], pellix::MQTTDecoderEventProtocolError);
    ASSERT_TRUE(recorder->errors[0]);
    EXPECT_EQ(recorder->errors[0]->domain(), "MQTT");
    EXPECT_EQ(recorder->errors[0]->code(), -7);
    EXPECT_EQ(decoder->state(), pellix::MQTTDecoderStateError);
}

TEST_F(DecoderQueue, CloseFromADelegateCallStopsReadingWithoutDeadlock) {
    recorder->onPacket = [](MQTTDecoder& d) { d.close(); };
    decoder->open();
    decoder->decodeMessage(hex("D0 00 D0 00 D0 00"));
    settle();
    EXPECT_EQ(recorder->packets.size(), 1u);
}

TEST_F(DecoderQueue, CloseFromAnotherThreadWaitsForTheQueue) {
    decoder->open();
    std::atomic<bool> busyDone{false};
    queue->async([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        busyDone = true;
    });
    decoder->close();
    EXPECT_TRUE(busyDone);
}

TEST_F(DecoderQueue, CloseDropsChunksNotYetRead) {
    decoder->decodeMessage(hex("D0 00"));  // waits: not open yet
    decoder->close();
    decoder->open();
    decoder->decodeMessage(hex("C0 00"));
    settle();
    EXPECT_EQ(recorder->packets, std::vector<std::string>{"C0 00"});
}

TEST_F(DecoderQueue, DecoderDroppedByItsDelegateFinishesSafely) {
    std::shared_ptr<MQTTDecoder> held = decoder;
    recorder->onPacket = [&held](MQTTDecoder&) { held.reset(); };
    std::weak_ptr<MQTTDecoder> weak = decoder;
    decoder.reset();
    held->open();
    held->decodeMessage(hex("D0 00 D0 00"));
    settle();
    EXPECT_EQ(recorder->packets.size(), 2u);
    EXPECT_TRUE(weak.expired());
}
