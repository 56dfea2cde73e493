// PellixLog: the switch every SDK log line tests.
//
// Logging is on from the first use of PellixLog until registration applies
// the host's options. Creating the singleton also silences the MQTT client's
// own log (its level set to 0), once per process.
//
// Thread safety: the flag is atomic; any thread may log or switch it.
#pragma once

#include <atomic>
#include <memory>
#include <string_view>

namespace pellix {

class PellixLog {
public:
    static const std::shared_ptr<PellixLog>& shareInstance();

    static void enableLog();
    static void disableLog();
    static bool isLogEnable();

    // Writes "[PellixSDK Debug]: <text>" (events: push-token results, call
    // and connection events) or "[PellixSDK Verbose]: <text>" (detail:
    // archive results, file removal, undefined keys) to the system log, only
    // while logging is on.
    static void debug(std::string_view text);
    static void verbose(std::string_view text);

    bool isPellixLogEnable() const { return isPellixLogEnable_.load(std::memory_order_relaxed); }
    void setIsPellixLogEnable(bool on) { isPellixLogEnable_.store(on, std::memory_order_relaxed); }

    PellixLog(const PellixLog&) = delete;
    PellixLog& operator=(const PellixLog&) = delete;

private:
    PellixLog() = default;
    void _configPrivatelyOwned();

    std::atomic<bool> isPellixLogEnable_{true};
};

}  // namespace pellix
