#include "platform/AudioPlayer.h"

#include <gst/gst.h>

#include <atomic>

#include "platform/DispatchQueue.h"

namespace pellix::platform {
namespace {

bool gstreamerStarted() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] { started = gst_init_check(nullptr, nullptr, nullptr); });
    return started;
}

std::mutex& sinkMutex() {
    static auto* m = new std::mutex();
    return *m;
}

std::string& sinkText() {
    static auto* text = new std::string("autoaudiosink");
    return *text;
}

enum BusKind { kSegmentDone, kEndOfStream, kStreamError };

ErrorPtr makeError(std::int64_t code, const std::string& reason) {
    Dictionary info;
    info.set(Error::kLocalizedDescriptionKey, Value(reason));
    return Error::make(AudioPlayer::kErrorDomain, code, std::move(info));
}

// Waits for a state change begun by gst_element_set_state; false on failure.
bool settle(GstElement* pipeline, GstStateChangeReturn begun) {
    if (begun == GST_STATE_CHANGE_FAILURE) return false;
    if (begun != GST_STATE_CHANGE_ASYNC) return true;
    return gst_element_get_state(pipeline, nullptr, nullptr, 5 * GST_SECOND) != GST_STATE_CHANGE_FAILURE;
}

}  // namespace

struct AudioPlayer::Impl {
    mutable std::mutex mutex;
    GstElement* pipeline = nullptr;
    GstElement* volume = nullptr;
    std::shared_ptr<DispatchQueue> queue = DispatchQueue::serial("platform.AudioPlayer");
    int loops = 0;
    int passesLeft = 0;  // passes still to start after the running one
    bool playing = false;
    bool prepared = false;
    unsigned runs = 0;
    // The number of the run in progress, 0 when none. Bus messages are handed
    // on only while a run is armed, and only to that run: a late message of
    // an earlier run changes nothing, and a player that never played (or has
    // stopped) leaves no work queued that could end up owning, and so
    // destroying, it on a worker thread.
    std::shared_ptr<std::atomic<unsigned>> armed = std::make_shared<std::atomic<unsigned>>(0);
};

namespace {

// What the bus handler needs, without touching the player: it runs on a
// streaming thread, which must neither wait for the player's lock (stop()
// holds it while these threads wind down) nor end up releasing the player.
struct BusContext {
    std::weak_ptr<AudioPlayer> player;
    std::shared_ptr<DispatchQueue> queue;
    std::shared_ptr<std::atomic<unsigned>> armed;
    void (*deliver)(const std::shared_ptr<AudioPlayer>&, int, unsigned);
    // Set once the members above are; the streaming threads read them only
    // after seeing it. GStreamer's bus lock already orders the hand-over,
    // but that lock is GStreamer's: this makes it our code's own, so a race
    // checker that does not look inside GStreamer sees it too.
    std::atomic<bool> published{false};
};

}  // namespace

AudioPlayer::AudioPlayer(std::string path) : path_(std::move(path)), impl_(std::make_unique<Impl>()) {}

AudioPlayer::~AudioPlayer() {
    if (impl_->pipeline) {
        gst_element_set_state(impl_->pipeline, GST_STATE_NULL);
        GstBus* bus = gst_element_get_bus(impl_->pipeline);
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_object_unref(bus);
        gst_object_unref(impl_->pipeline);
    }
}

void AudioPlayer::setSinkDescription(std::string launchText) {
    std::lock_guard lock(sinkMutex());
    sinkText() = std::move(launchText);
}

std::string AudioPlayer::sinkDescription() {
    std::lock_guard lock(sinkMutex());
    return sinkText();
}

std::shared_ptr<AudioPlayer> AudioPlayer::create(const std::string& path, ErrorPtr* error) {
    auto fail = [&](std::int64_t code, const std::string& reason) -> std::shared_ptr<AudioPlayer> {
        if (error) *error = makeError(code, reason);
        return nullptr;
    };
    if (!gstreamerStarted()) return fail(1, "GStreamer cannot start");
    std::shared_ptr<AudioPlayer> player(new AudioPlayer(path));
    Impl& impl = *player->impl_;

    const std::string launch = "filesrc name=src ! decodebin ! audioconvert ! audioresample ! volume name=vol ! "
                               "audioconvert ! audioresample ! " + sinkDescription();
    GError* parseError = nullptr;
    GstElement* pipeline = gst_parse_launch(launch.c_str(), &parseError);
    if (parseError) {
        const std::string reason = parseError->message ? parseError->message : "bad sink";
        g_error_free(parseError);
        if (pipeline) gst_object_unref(pipeline);
        return fail(2, reason);
    }
    if (!pipeline) return fail(2, "bad sink");
    impl.pipeline = pipeline;
    GstElement* source = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    g_object_set(source, "location", path.c_str(), nullptr);
    gst_object_unref(source);
    impl.volume = gst_bin_get_by_name(GST_BIN(pipeline), "vol");
    gst_object_unref(impl.volume);  // the bin keeps it alive

    auto* context = new BusContext{player, impl.queue, impl.armed,
                                   [](const std::shared_ptr<AudioPlayer>& p, int kind, unsigned generation) {
                                       p->finishPass(kind, generation);
                                   }};
    context->published.store(true, std::memory_order_release);
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(
        bus,
        [](GstBus*, GstMessage* message, gpointer data) -> GstBusSyncReply {
            auto* ctx = static_cast<BusContext*>(data);
            if (!ctx->published.load(std::memory_order_acquire)) return GST_BUS_PASS;
            int kind = -1;
            switch (GST_MESSAGE_TYPE(message)) {
            case GST_MESSAGE_SEGMENT_DONE: kind = kSegmentDone; break;
            case GST_MESSAGE_EOS: kind = kEndOfStream; break;
            case GST_MESSAGE_ERROR: kind = kStreamError; break;
            default: break;
            }
            const unsigned generation = ctx->armed->load();
            if (kind >= 0 && generation != 0) {
                // Seeks and state changes may not run on the streaming
                // thread that posted the message; the private queue does them.
                ctx->queue->async([weak = ctx->player, deliver = ctx->deliver, kind, generation] {
                    if (auto p = weak.lock()) deliver(p, kind, generation);
                });
            }
            gst_message_unref(message);
            return GST_BUS_DROP;
        },
        context, [](gpointer data) { delete static_cast<BusContext*>(data); });
    gst_object_unref(bus);

    if (!player->prepareToPlay()) {
        return fail(3, "cannot decode " + path);
    }
    return player;
}

void AudioPlayer::setNumberOfLoops(int loops) {
    std::lock_guard lock(impl_->mutex);
    impl_->loops = loops < 0 ? 0 : loops;
}

int AudioPlayer::numberOfLoops() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->loops;
}

void AudioPlayer::setVolume(double volume) {
    g_object_set(impl_->volume, "volume", volume < 0 ? 0.0 : (volume > 1 ? 1.0 : volume), nullptr);
}

double AudioPlayer::volume() const {
    double v = 0;
    g_object_get(impl_->volume, "volume", &v, nullptr);
    return v;
}

bool AudioPlayer::prepareToPlay() {
    std::lock_guard lock(impl_->mutex);
    if (impl_->prepared) return true;
    impl_->prepared = settle(impl_->pipeline, gst_element_set_state(impl_->pipeline, GST_STATE_PAUSED));
    if (!impl_->prepared) gst_element_set_state(impl_->pipeline, GST_STATE_NULL);
    return impl_->prepared;
}

bool AudioPlayer::play() {
    if (!prepareToPlay()) return false;
    std::lock_guard lock(impl_->mutex);
    if (impl_->playing) return true;
    if (++impl_->runs == 0) ++impl_->runs;
    impl_->armed->store(impl_->runs);
    impl_->passesLeft = impl_->loops;
    // A segment seek ends a pass with SEGMENT_DONE instead of EOS, so the next
    // pass is queued behind it without a gap; the last pass ends normally.
    const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE |
                                                 (impl_->passesLeft > 0 ? GST_SEEK_FLAG_SEGMENT : 0));
    if (!gst_element_seek(impl_->pipeline, 1.0, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, 0, GST_SEEK_TYPE_NONE,
                          GST_CLOCK_TIME_NONE) ||
        !settle(impl_->pipeline, gst_element_set_state(impl_->pipeline, GST_STATE_PLAYING))) {
        impl_->armed->store(0);
        gst_element_set_state(impl_->pipeline, GST_STATE_NULL);
        impl_->prepared = false;
        return false;
    }
    impl_->playing = true;
    return true;
}

void AudioPlayer::stop() {
    std::lock_guard lock(impl_->mutex);
    impl_->armed->store(0);
    gst_element_set_state(impl_->pipeline, GST_STATE_NULL);
    impl_->prepared = false;
    impl_->playing = false;
}

bool AudioPlayer::isPlaying() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->playing;
}

void AudioPlayer::finishPass(int kind, unsigned generation) {
    Impl& impl = *impl_;
    std::lock_guard lock(impl.mutex);
    if (*impl.armed != generation || !impl.playing) return;
    if (kind == kSegmentDone) {
        --impl.passesLeft;
        const auto flags = static_cast<GstSeekFlags>(impl.passesLeft > 0 ? GST_SEEK_FLAG_SEGMENT : 0);
        if (gst_element_seek(impl.pipeline, 1.0, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, 0, GST_SEEK_TYPE_NONE,
                             GST_CLOCK_TIME_NONE)) {
            return;
        }
    }
    // The last pass ended, or the stream failed: the file sink (if any) has
    // its end written once the pipeline is back to NULL.
    impl.armed->store(0);
    gst_element_set_state(impl.pipeline, GST_STATE_NULL);
    impl.prepared = false;
    impl.playing = false;
}

}  // namespace pellix::platform
