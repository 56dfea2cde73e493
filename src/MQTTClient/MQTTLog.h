// MQTTLog: the MQTT client's own log switch.
//
// Every log line of the MQTT client belongs to one level and is written to the
// system log only when that level's bit is set in the process-wide mask
// `mqttLogLevel`. The mask starts with all five levels on; the SDK turns the
// client quiet by setting it to 0 once at start-up. Lines are checked before
// they are formatted, so a silenced line costs one load and one test.
//
// Thread safety: the mask may be read and written from any thread (relaxed
// atomic); a change is seen by lines formatted after it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace pellix {

// Bits of the log mask, one per level.
enum MQTTLogLevelBit : std::uint64_t {
    MQTTLogLevelError = 1,
    MQTTLogLevelWarning = 2,
    MQTTLogLevelInfo = 4,
    MQTTLogLevelDebug = 8,
    MQTTLogLevelVerbose = 16,
};

// The mask itself; all levels on until someone calls setLogLevel.
extern std::atomic<std::uint64_t> mqttLogLevel;

class MQTTLog {
public:
    // Stores the mask as given (0 silences the client, 0x1F lets everything through).
    static void setLogLevel(std::uint64_t mask);
    static std::uint64_t logLevel();

    // True when lines of this level are written.
    static bool enabled(std::uint64_t level) {
        return (mqttLogLevel.load(std::memory_order_relaxed) & level) != 0;
    }

    // Formats and writes one line when its level is on (printf formatting).
    static void log(std::uint64_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Writes one already formatted line to the system log, unconditionally.
    static void write(std::string_view line);

    // The platform's description of bytes, at most `limit` of them:
    // "<0a1b2c3d 4e>" (groups of four bytes), "<>" when empty.
    static std::string describe(std::span<const std::uint8_t> bytes, std::size_t limit = 256);
};

}  // namespace pellix

// Checks the level before any argument is evaluated or formatted.
#define MQTT_LOG(level, ...)                                 \
    do {                                                     \
        if (::pellix::MQTTLog::enabled(level)) {             \
            ::pellix::MQTTLog::log((level), __VA_ARGS__);    \
        }                                                    \
    } while (0)
#define MQTT_LOG_ERROR(...) MQTT_LOG(::pellix::MQTTLogLevelError, __VA_ARGS__)
#define MQTT_LOG_WARNING(...) MQTT_LOG(::pellix::MQTTLogLevelWarning, __VA_ARGS__)
#define MQTT_LOG_INFO(...) MQTT_LOG(::pellix::MQTTLogLevelInfo, __VA_ARGS__)
#define MQTT_LOG_DEBUG(...) MQTT_LOG(::pellix::MQTTLogLevelDebug, __VA_ARGS__)
#define MQTT_LOG_VERBOSE(...) MQTT_LOG(::pellix::MQTTLogLevelVerbose, __VA_ARGS__)
