// CallCenter: the phone's cellular calls, as the host reports them.
//
// The host tells the platform of every cellular call event
// (`reportCallEvent`); each live CallCenter whose handler is set then hears
// of it on the telephony queue (a private serial queue, never the main one),
// in report order. `currentCalls` lists the calls not yet disconnected, and
// is nullopt when there are none. Centres are independent observers of the
// one process-wide list; dropping a centre (or clearing its handler) ends its
// reports, though a report already on the queue may still run.
//
// Thread-safety: all members from any thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pellix::platform {

struct CellularCall {
    enum class State { Dialing, Incoming, Connected, Disconnected };
    std::string callID;
    State callState = State::Incoming;
};

class CallCenter : public std::enable_shared_from_this<CallCenter> {
public:
    using Handler = std::function<void(const CellularCall&)>;

    static std::shared_ptr<CallCenter> create();
    CallCenter(const CallCenter&) = delete;
    CallCenter& operator=(const CallCenter&) = delete;

    void setCallEventHandler(Handler handler);
    std::optional<std::vector<CellularCall>> currentCalls() const;

    // Host side: a call's new state (the call is matched by its id).
    static void reportCallEvent(const CellularCall& call);

private:
    CallCenter() = default;
    mutable std::mutex mutex_;
    Handler handler_;
};

}  // namespace pellix::platform
