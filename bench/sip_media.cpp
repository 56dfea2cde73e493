// The call media against gst-launch-1.0 doing the same work, side by side:
// - an audio-only PCMU call (tone in, RTP both ways with RTCP, decode to a sink);
// - a 640x480 H.264 video call at the 640x480 preset (17 frames/s, 512 kbit/s):
//   capture, scale, encode and send; receive, decode and convert to RGBA.
// Each subject talks to the same kind of gst-launch peer, which is not
// measured. Reported: CPU seconds per second of call for each side after a
// warm-up, and the ratio media / gst-launch; the two sides take turns within
// each iteration. Then 100 short calls one after
// the other, with the resident memory after the 10th and the 100th. Last,
// the audio delay of a whole call through the engine against sipp as the door
// station echoing our RTP: from a tone's onset leaving the microphone to its
// onset reaching the loudspeaker, next to the jitter buffer's latency.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SipEngineSDK/SipEngine.h"
#include "SipEngineSDK/media/GstCallMedia.h"

extern char** environ;

using namespace std::chrono_literals;
using namespace client::media;

namespace {

constexpr auto kWarmUp = 1500ms;
constexpr auto kMeasure = 5s;
std::map<std::string, double> gCpu;  // benchmark name → CPU seconds per second

uint16_t freeEvenPort() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        int a = ::socket(AF_INET, SOCK_DGRAM, 0), b = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof where;
        ::bind(a, reinterpret_cast<sockaddr*>(&where), sizeof where);
        ::getsockname(a, reinterpret_cast<sockaddr*>(&where), &length);
        const uint16_t port = ntohs(where.sin_port);
        where.sin_port = htons(static_cast<uint16_t>(port + 1));
        const bool pair = port % 2 == 0 && ::bind(b, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
        ::close(a);
        ::close(b);
        if (pair) return port;
    }
    return 0;
}

// A child process, stopped and reaped on destruction.
class Spawned {
public:
    // `quiet`: its standard output goes to /dev/null.
    explicit Spawned(std::vector<std::string> words, bool quiet = false) {
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (quiet) posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Spawned() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    Spawned(const Spawned&) = delete;
    Spawned& operator=(const Spawned&) = delete;
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

// A gst-launch-1.0 pipeline.
class GstLaunch : public Spawned {
public:
    explicit GstLaunch(const std::string& description) : Spawned(words(description)) {}

private:
    static std::vector<std::string> words(const std::string& description) {
        std::vector<std::string> out = {"gst-launch-1.0", "-q"};
        std::istringstream in(description);
        for (std::string w; in >> w;) out.push_back(w);
        return out;
    }
};

long residentKb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

class NullRenderer : public VideoRenderer {
public:
    void renderFrame(const VideoFrame& frame) override { benchmark::DoNotOptimize(frame.rgba.data()); }
};

const std::string kTone = "audiotestsrc is-live=true wave=sine volume=0.5 samplesperbuffer=160 freq=1000";
const std::string kVideoCaps = "application/x-rtp,media=video,clock-rate=90000,encoding-name=H264,payload=96";
const std::string kAudioCaps = "application/x-rtp,media=audio,clock-rate=8000,encoding-name=PCMU,payload=0";
const std::string kH264 =
    "x264enc tune=zerolatency speed-preset=ultrafast bitrate=512 key-int-max=34 ! "
    "video/x-h264,profile=constrained-baseline ! rtph264pay pt=96 config-interval=-1";

std::string audioPeer(uint16_t own, uint16_t subject) {
    return "audiotestsrc is-live=true freq=500 samplesperbuffer=160 ! audio/x-raw,rate=8000,channels=1 ! mulawenc ! "
           "rtppcmupay pt=0 ! udpsink host=127.0.0.1 port=" + std::to_string(subject) +
           " udpsrc address=127.0.0.1 port=" + std::to_string(own) + " caps=" + kAudioCaps + " ! fakesink";
}

std::string videoPeer(uint16_t own, uint16_t subject) {
    return "videotestsrc is-live=true pattern=smpte ! video/x-raw,width=640,height=480,framerate=17/1 ! " + kH264 +
           " ! udpsink host=127.0.0.1 port=" + std::to_string(subject) + " udpsrc address=127.0.0.1 port=" +
           std::to_string(own) + " caps=" + kVideoCaps + " ! fakesink";
}

// The subject as one gst-launch pipeline: what GstCallMedia builds, by hand.
std::string launchSubject(bool video, uint16_t own, uint16_t peer) {
    const std::string p = std::to_string(peer), p1 = std::to_string(peer + 1);
    const std::string o = std::to_string(own), o1 = std::to_string(own + 1);
    std::string d = "rtpbin name=r latency=60 udpsrc address=127.0.0.1 port=" + o1 + " caps=application/x-rtcp ! r.recv_rtcp_sink_0 "
                    "r.send_rtcp_src_0 ! udpsink host=127.0.0.1 port=" + p1 + " sync=false async=false ";
    if (video) {
        d += "videotestsrc is-live=true pattern=ball ! videoconvert ! videoscale ! videorate ! "
             "video/x-raw,width=640,height=480,framerate=17/1,pixel-aspect-ratio=1/1 ! videoflip ! tee name=t "
             "t. ! queue max-size-buffers=2 leaky=downstream ! videoconvert ! " + kH264 + " ! r.send_rtp_sink_0 ";
    } else {
        d += kTone + " ! audioconvert ! audioresample ! audio/x-raw,format=S16LE,channels=1,rate=8000 ! volume ! "
                     "mulawenc ! rtppcmupay pt=0 ! r.send_rtp_sink_0 ";
    }
    d += "r.send_rtp_src_0 ! udpsink host=127.0.0.1 port=" + p + " sync=false async=false ";
    d += "udpsrc address=127.0.0.1 port=" + o + " caps=" + (video ? kVideoCaps : kAudioCaps) + " ! r.recv_rtp_sink_0 ";
    d += video ? "r. ! funnel ! rtph264depay ! h264parse ! avdec_h264 ! videoconvert ! video/x-raw,format=RGBA ! fakesink sync=false"
               : "r. ! funnel ! rtppcmudepay ! mulawdec ! audioconvert ! audioresample ! fakesink";
    return d;
}

// CPU seconds that every live thread of process `pid` has run, from the
// scheduler's nanosecond counts: /proc's tick counts (10 ms) are too coarse
// for an audio call's few hundredths of a CPU second per second.
double processCpu(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    double ns = 0;
    if (DIR* dir = ::opendir(tasks.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            std::ifstream in(tasks + "/" + entry->d_name + "/schedstat");
            double run = 0;
            if (in >> run) ns += run;
        }
        ::closedir(dir);
    }
    return ns / 1e9;
}

// CPU seconds per second over kMeasure after kWarmUp, `pump` running meanwhile.
double cpuPerSecond(pid_t pid, const std::function<void(std::chrono::nanoseconds)>& pump) {
    pump(kWarmUp);
    const double cpu = processCpu(pid);
    const auto start = std::chrono::steady_clock::now();
    pump(kMeasure);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return (processCpu(pid) - cpu) / wall;
}

// One call through the media, against a gst-launch peer.
double mediaCall(bool video) {
    MediaSettings settings;
    settings.audio.sourceDescription = kTone;
    settings.audio.sinkDescription = "fakesink";
    settings.cameras = {"videotestsrc is-live=true pattern=ball"};
    auto media = gstreamerCallMediaFactory()(settings);
    const uint16_t peerPort = freeEvenPort();
    const StreamKind kind = video ? StreamKind::Video : StreamKind::Audio;
    GstLaunch peer(video ? videoPeer(peerPort, media->localPort(kind)) : audioPeer(peerPort, media->localPort(kind)));
    StreamPlan plan;
    plan.kind = kind;
    plan.active = true;
    plan.remoteAddress = "127.0.0.1";
    plan.remoteRtpPort = peerPort;
    plan.codec = video ? Codec{96, "H264", 90000, "", {}} : Codec{0, "PCMU", 8000, "", {}};
    media->apply(plan);
    if (video) {
        VideoCapture c;
        c.width = 640;
        c.height = 480;
        c.frameRate = 17;
        c.bitRateKbps = 512;
        c.remoteRenderer = std::make_shared<NullRenderer>();
        media->startVideo(c);
    }
    std::vector<MediaEvent> events;
    return cpuPerSecond(::getpid(), [&](std::chrono::nanoseconds duration) {
        const auto until = std::chrono::steady_clock::now() + duration;
        while (std::chrono::steady_clock::now() < until) {
            media->poll(events);
            events.clear();
            std::this_thread::sleep_for(50ms);
        }
    });
}

// The same call as one gst-launch-1.0 pipeline, against the same peer.
double launchCall(bool video) {
    const uint16_t own = freeEvenPort(), peerPort = freeEvenPort();
    GstLaunch subject(launchSubject(video, own, peerPort));
    GstLaunch peer(video ? videoPeer(peerPort, own) : audioPeer(peerPort, own));
    return cpuPerSecond(subject.pid(), [](std::chrono::nanoseconds d) { std::this_thread::sleep_for(d); });
}

// Both sides in each iteration, the one that goes first alternating, so that
// a change in the machine's load falls on both alike.
void runPairedCalls(benchmark::State& state, bool video, const std::string& call) {
    double ours = 0, reference = 0;
    bool oursFirst = true;
    for (auto _ : state) {
        for (int side = 0; side < 2; ++side) {
            if ((side == 0) == oursFirst) ours += mediaCall(video);
            else reference += launchCall(video);
        }
        oursFirst = !oursFirst;
    }
    const auto n = static_cast<double>(state.iterations());
    gCpu["media/" + call] = ours / n;
    gCpu["launch/" + call] = reference / n;
    state.counters["ours_cpu_s_per_s"] = ours / n;
    state.counters["ref_cpu_s_per_s"] = reference / n;
    state.counters["ratio"] = reference > 0 ? ours / reference : 0;
}

void BM_Paired_AudioPcmuCall(benchmark::State& state) { runPairedCalls(state, false, "AudioPcmuCall"); }
void BM_Paired_Video640x480H264Call(benchmark::State& state) { runPairedCalls(state, true, "Video640x480H264Call"); }

void BM_Media_100Calls(benchmark::State& state) {
    MediaSettings settings;
    settings.audio.sourceDescription = kTone;
    settings.audio.sinkDescription = "fakesink";
    const uint16_t peerPort = freeEvenPort();
    long afterTen = 0, afterHundred = 0;
    for (auto _ : state) {
        for (int call = 1; call <= 100; ++call) {
            auto media = gstreamerCallMediaFactory()(settings);
            StreamPlan plan;
            plan.kind = StreamKind::Audio;
            plan.active = true;
            plan.remoteAddress = "127.0.0.1";
            plan.remoteRtpPort = peerPort;
            plan.codec = Codec{0, "PCMU", 8000, "", {}};
            media->apply(plan);
            std::vector<MediaEvent> events;
            for (int i = 0; i < 5; ++i) {
                media->poll(events);
                std::this_thread::sleep_for(20ms);
            }
            media.reset();
            if (call == 10) afterTen = residentKb();
        }
        afterHundred = residentKb();
    }
    state.counters["rss_after_10_MB"] = static_cast<double>(afterTen) / 1024;
    state.counters["rss_after_100_MB"] = static_cast<double>(afterHundred) / 1024;
}

// Onsets of a tone in 8 kHz 16-bit mono sound read from a pipe: the moment
// the first loud sample after at least 100 ms of quiet was produced, taking
// each read as ending now.
class OnsetClock {
public:
    explicit OnsetClock(int fd) : fd_(fd), thread_([this] { run(); }) {}
    ~OnsetClock() { thread_.join(); }
    std::vector<std::chrono::steady_clock::time_point> onsets() {
        std::lock_guard lock(mutex_);
        return onsets_;
    }

private:
    void run() {
        int16_t samples[4096];
        size_t quiet = 0;
        for (;;) {
            const ssize_t n = ::read(fd_, samples, sizeof samples);
            if (n <= 0) return;
            const auto now = std::chrono::steady_clock::now();
            const size_t count = static_cast<size_t>(n) / 2;
            for (size_t i = 0; i < count; ++i) {
                if (std::abs(samples[i]) < 2000) {
                    ++quiet;
                    continue;
                }
                if (quiet >= 800) {
                    std::lock_guard lock(mutex_);
                    onsets_.push_back(now - std::chrono::microseconds((count - i) * 125));
                }
                quiet = 0;
            }
        }
    }
    int fd_;
    std::mutex mutex_;
    std::vector<std::chrono::steady_clock::time_point> onsets_;
    std::thread thread_;
};

void BM_Engine_EchoLoopAudioDelay(benchmark::State& state) {
    // Ticks of 40 ms of 1 kHz every half second: the "sent" pipe taps them
    // as the source produces them, the "heard" pipe gets what the sink plays
    // (in step with the clock, as a loudspeaker would).
    int sent[2], heard[2];
    if (::pipe(sent) != 0 || ::pipe(heard) != 0) {
        state.SkipWithError("no pipes");
        return;
    }
    const std::string source =
        "audiotestsrc is-live=true wave=ticks freq=1000 sine-periods-per-tick=40 tick-interval=500000000 volume=0.5 "
        "samplesperbuffer=160 ! audio/x-raw,format=S16LE,rate=8000,channels=1 ! tee name=sent sent. ! queue ! "
        "fdsink fd=" + std::to_string(sent[1]) + " sync=false async=false sent. ! queue";
    // A sink that syncs to the clock plays each buffer its processing
    // deadline (GStreamer's default: 20 ms) after the pipeline's latency;
    // the argument sets it, to show the call path's own share apart.
    const std::string sink = "audio/x-raw,format=S16LE,channels=1,rate=8000 ! fdsink sync=true processing-deadline=" +
                             std::to_string(state.range(0) * 1000000) + " fd=" + std::to_string(heard[1]);
    int latencyMs = 0;
    client::media::setCallMediaFactory([&](const MediaSettings& settings) {
        auto s = settings;
        s.audio.sourceDescription = source;
        s.audio.sinkDescription = sink;
        latencyMs = s.jitterBufferMs;
        return gstreamerCallMediaFactory()(s);
    });
    std::vector<double> delays;
    {
        OnsetClock sentClock(sent[0]), heardClock(heard[0]);
        client::Config config;
        const uint16_t enginePort = freeEvenPort();
        config.transport.udpPort = enginePort;
        client::setText(config.transport.ipv4BindAddress, "127.0.0.1");
        client::setText(config.media.audioCodecs, "PCMU,PCMA");
        client::setText(config.media.videoCodecs, "H264");
        auto* engine = client::SipEngineFactory::Create(config);
        struct Calls : client::CallStateObserver {
            void OnCallStateChange(client::Call* c, client::Call::CallState s) override {
                if (s == client::Call::kNewCall) call = c;
                if (s == client::Call::kEnded || s == client::Call::kFailed || s == client::Call::kCancel) ended = true;
            }
            void OnDtmf(client::Call*, const char*) override {}
            void OnMediaStreamUpdate(client::Call*, client::CallMediaStreamType, client::Call::MediaDirection) override {}
            client::Call* call = nullptr;
            bool ended = false;
        } calls;
        auto pumpUntil = [&](const std::function<bool()>& done, std::chrono::milliseconds timeout) {
            const auto until = std::chrono::steady_clock::now() + timeout;
            while (!done() && std::chrono::steady_clock::now() < until) {
                engine->ProcessEvents();
                std::this_thread::sleep_for(5ms);
            }
            return done();
        };
        if (engine->Initialize()) {
            engine->GetCallManager()->AddObserver(&calls);
            engine->GetCallManager()->SetAutoRinging(1);
            Spawned door({"sipp", "-sf", std::string(PELLIX_SOURCE_DIR) + "/tests/sip_media/scenarios/uac_audio_echo.xml",
                          "-i", "127.0.0.1", "-p", std::to_string(freeEvenPort()), "-m", "1", "-nostdin",
                          "-timeout", "60", "-mi", "127.0.0.1", "-mp", std::to_string(freeEvenPort()), "-rtp_echo",
                          "-s", "1001", "127.0.0.1:" + std::to_string(enginePort)},
                         true);
            for (auto _ : state) {
                if (!pumpUntil([&] { return calls.call != nullptr; }, 20s)) {
                    state.SkipWithError("sipp did not call");
                    break;
                }
                calls.call->Answer(true, false);
                const auto start = std::chrono::steady_clock::now();
                pumpUntil([] { return false; }, kWarmUp + kMeasure * 2);
                calls.call->Hangup();
                pumpUntil([&] { return calls.ended; }, 5s);
                const auto sentAt = sentClock.onsets();
                for (const auto& h : heardClock.onsets()) {
                    if (h < start + kWarmUp) continue;
                    // The tick that left last before this one arrived.
                    auto s = std::upper_bound(sentAt.begin(), sentAt.end(), h);
                    if (s == sentAt.begin()) continue;
                    const double ms = std::chrono::duration<double, std::milli>(h - *std::prev(s)).count();
                    if (ms < 400) delays.push_back(ms);
                }
            }
        }
        client::SipEngineFactory::Delete(engine);
        client::media::setCallMediaFactory({});
        ::close(sent[1]);
        ::close(heard[1]);
    }
    ::close(sent[0]);
    ::close(heard[0]);
    if (delays.empty()) {
        state.SkipWithError("no tone came back");
        return;
    }
    std::sort(delays.begin(), delays.end());
    const double median = delays[delays.size() / 2];
    state.counters["onsets"] = static_cast<double>(delays.size());
    state.counters["delay_median_ms"] = median;
    state.counters["delay_min_ms"] = delays.front();
    state.counters["delay_max_ms"] = delays.back();
    state.counters["jitter_latency_ms"] = latencyMs;
    state.counters["sink_deadline_ms"] = static_cast<double>(state.range(0));
    std::printf("Echo loop audio delay (sink processing deadline %ld ms): median %.1f ms (min %.1f, max %.1f, %zu onsets); jitter buffer latency %d ms; "
                "median - latency %.1f ms (goal within 20 ms)\n",
                static_cast<long>(state.range(0)), median, delays.front(), delays.back(), delays.size(), latencyMs,
                median - latencyMs);
}

// The door station's picture after the call connects mid-stream: the sender
// sends a keyframe only every 10 s and honours PLI and FIR, and its first
// keyframe went by before the call connected (a relay passes its RTP on only
// from the moment of connecting). Measured: from applying the negotiated
// video stream to the first decoded picture. Goal: 0.5 s.
void BM_Media_FirstPictureFromSlowKeyframeSender(benchmark::State& state) {
    std::vector<double> ms;
    for (auto _ : state) {
        for (int run = 0; run < 5; ++run) {
            MediaSettings settings;
            settings.audio.sinkDescription = "fakesink";
            auto media = gstreamerCallMediaFactory()(settings);
            const uint16_t senderPort = freeEvenPort(), relayPort = freeEvenPort();
            const uint16_t mediaPort = media->localPort(StreamKind::Video);
            const int relay = ::socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in where{};
            where.sin_family = AF_INET;
            where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            where.sin_port = htons(relayPort);
            ::bind(relay, reinterpret_cast<sockaddr*>(&where), sizeof where);
            timeval wait{0, 20000};
            ::setsockopt(relay, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            std::atomic<bool> open{false}, stop{false};
            std::thread forward([&] {
                sockaddr_in to = where;
                to.sin_port = htons(mediaPort);
                char buffer[2048];
                while (!stop) {
                    const ssize_t n = ::recv(relay, buffer, sizeof buffer, 0);
                    if (n > 0 && open) ::sendto(relay, buffer, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
                }
            });
            GstLaunch sender(
                "rtpbin name=b rtp-profile=avpf videotestsrc is-live=true pattern=smpte ! "
                "video/x-raw,width=640,height=480,framerate=17/1 ! x264enc tune=zerolatency speed-preset=ultrafast "
                "bitrate=512 key-int-max=170 ! rtph264pay pt=96 config-interval=-1 ! b.send_rtp_sink_0 b.send_rtp_src_0 ! "
                "udpsink host=127.0.0.1 port=" + std::to_string(relayPort) +
                " b.send_rtcp_src_0 ! udpsink sync=false async=false host=127.0.0.1 port=" + std::to_string(mediaPort + 1) +
                " udpsrc address=127.0.0.1 port=" + std::to_string(senderPort + 1) + " ! b.recv_rtcp_sink_0");
            std::this_thread::sleep_for(1500ms);  // its first keyframe is long gone
            struct Counting : VideoRenderer {
                std::atomic<int> frames{0};
                void renderFrame(const VideoFrame&) override { ++frames; }
            };
            auto remote = std::make_shared<Counting>();
            StreamPlan plan;
            plan.kind = StreamKind::Video;
            plan.active = true;
            plan.remoteAddress = "127.0.0.1";
            plan.remoteRtpPort = senderPort;
            plan.direction = Direction::ReceiveOnly;
            plan.codec = Codec{96, "H264", 90000, "", {}};
            plan.codec.feedback.pli = plan.codec.feedback.fir = true;
            const auto connected = std::chrono::steady_clock::now();
            open = true;
            media->apply(plan);
            VideoCapture c;
            c.remoteRenderer = remote;
            media->startVideo(c);
            std::vector<MediaEvent> events;
            while (remote->frames == 0 && std::chrono::steady_clock::now() - connected < 15s) {
                media->poll(events);
                std::this_thread::sleep_for(2ms);
            }
            if (remote->frames > 0)
                ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - connected).count());
            stop = true;
            forward.join();
            ::close(relay);
        }
    }
    if (ms.empty()) {
        state.SkipWithError("no picture");
        return;
    }
    std::sort(ms.begin(), ms.end());
    state.counters["first_picture_median_ms"] = ms[ms.size() / 2];
    state.counters["first_picture_max_ms"] = ms.back();
    std::printf("First picture from a sender with 10 s keyframes: median %.0f ms, max %.0f ms over %zu calls (goal 500 ms)\n",
                ms[ms.size() / 2], ms.back(), ms.size());
}

// How long the engine's pumping thread is held by the media of a video call:
// the longest single call into it (start, camera change, the pump itself,
// the end of the call) over a call that starts the camera and switches it.
void BM_Media_PumpThreadHeldByAVideoCall(benchmark::State& state) {
    double longest = 0, ending = 0;
    for (auto _ : state) {
        MediaSettings settings;
        settings.audio.sourceDescription = kTone;
        settings.audio.sinkDescription = "fakesink";
        settings.cameras = {"videotestsrc is-live=true pattern=ball", "videotestsrc is-live=true pattern=snow"};
        const uint16_t peerPort = freeEvenPort();
        auto media = gstreamerCallMediaFactory()(settings);
        GstLaunch peer(videoPeer(peerPort, media->localPort(StreamKind::Video)));
        auto timed = [&](const std::function<void()>& f) {
            const auto t0 = std::chrono::steady_clock::now();
            f();
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            longest = std::max(longest, ms);
            return ms;
        };
        StreamPlan plan;
        plan.kind = StreamKind::Video;
        plan.active = true;
        plan.remoteAddress = "127.0.0.1";
        plan.remoteRtpPort = peerPort;
        plan.codec = Codec{96, "H264", 90000, "", {}};
        VideoCapture c;
        c.localRenderer = std::make_shared<NullRenderer>();
        c.remoteRenderer = std::make_shared<NullRenderer>();
        std::vector<MediaEvent> events;
        auto pumpFor = [&](std::chrono::milliseconds span) {
            const auto until = std::chrono::steady_clock::now() + span;
            while (std::chrono::steady_clock::now() < until) {
                timed([&] { media->poll(events); });
                std::this_thread::sleep_for(20ms);
            }
        };
        timed([&] { media->apply(plan); });
        timed([&] { media->startVideo(c); });
        pumpFor(1500ms);
        timed([&] { media->changeCapture(1, 0, c.localRenderer); });
        pumpFor(1500ms);
        ending = timed([&] { media.reset(); });
    }
    state.counters["longest_hold_ms"] = longest;
    state.counters["end_of_call_ms"] = ending;
    std::printf("Pump thread held by a video call: longest %.1f ms (ending the call %.1f ms)\n", longest, ending);
}

}  // namespace

BENCHMARK(BM_Paired_AudioPcmuCall)->Iterations(4)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_Paired_Video640x480H264Call)->Iterations(4)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_Media_100Calls)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_Media_FirstPictureFromSlowKeyframeSender)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_Media_PumpThreadHeldByAVideoCall)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_Engine_EchoLoopAudioDelay)->Arg(20)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

int main(int argc, char** argv) {
    if (!ensureGstreamer()) return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    for (const char* call : {"AudioPcmuCall", "Video640x480H264Call"}) {
        const double media = gCpu[std::string("media/") + call];
        const double launch = gCpu[std::string("launch/") + call];
        if (launch > 0) std::printf("%s: media %.3f CPU s/s, gst-launch %.3f CPU s/s, ratio %.2f\n", call, media, launch, media / launch);
    }
    benchmark::Shutdown();
    return 0;
}
