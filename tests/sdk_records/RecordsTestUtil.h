// Helpers of the API-record tests: JSON literals, the log capture and a
// generic walk over a record's field table (own and inherited fields).
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/JSON.h"
#include "platform/Log.h"
#include "platform/Value.h"

namespace pellix::test {

inline platform::Value json(std::string_view text) {
    auto v = platform::JSON::parse(text);
    if (!v) throw std::runtime_error("bad JSON in test: " + std::string(text));
    return *v;
}

inline platform::Dictionary jsonObject(std::string_view text) { return json(text).asDictionary(); }

// Every field of the record's table chain, nearest class first.
template <class Base, class Fn>
void forEachField(const Base& record, Fn&& fn) {
    for (auto* t = &record.fieldTable(); t; t = t->parent()) {
        for (const auto& f : t->ownFields()) fn(f);
    }
}

inline std::vector<std::string> keysOf(const platform::Dictionary& d) {
    std::vector<std::string> out;
    for (const auto& [k, v] : d) out.push_back(k);
    return out;
}

// Captures the system log for one test.
class LogCapture {
public:
    LogCapture() {
        platform::Log::setSink([this](std::string_view line) {
            std::lock_guard lock(mutex_);
            lines_.emplace_back(line);
        });
    }
    ~LogCapture() { platform::Log::setSink({}); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace pellix::test
