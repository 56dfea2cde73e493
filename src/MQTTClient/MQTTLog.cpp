#include "MQTTClient/MQTTLog.h"

#include "platform/Log.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace pellix {

std::atomic<std::uint64_t> mqttLogLevel{0x1F};

void MQTTLog::setLogLevel(std::uint64_t mask) { mqttLogLevel.store(mask, std::memory_order_relaxed); }

std::uint64_t MQTTLog::logLevel() { return mqttLogLevel.load(std::memory_order_relaxed); }

void MQTTLog::log(std::uint64_t level, const char* format, ...) {
    if (!enabled(level)) {
        return;
    }
    char small[512];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) {
        va_end(again);
        return;
    }
    if (static_cast<std::size_t>(n) < sizeof small) {
        va_end(again);
        write(std::string_view(small, static_cast<std::size_t>(n)));
        return;
    }
    std::vector<char> big(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), format, again);
    va_end(again);
    write(std::string_view(big.data(), static_cast<std::size_t>(n)));
}

void MQTTLog::write(std::string_view line) { platform::Log::write(line); }

std::string MQTTLog::describe(std::span<const std::uint8_t> bytes, std::size_t limit) {
    static const char digits[] = "0123456789abcdef";
    std::size_t n = bytes.size() < limit ? bytes.size() : limit;
    std::string out;
    out.reserve(2 + n * 2 + n / 4);
    out.push_back('<');
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0 && i % 4 == 0) {
            out.push_back(' ');
        }
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 0x0F]);
    }
    out.push_back('>');
    return out;
}

}  // namespace pellix
