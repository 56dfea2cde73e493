// SipEventObserver: the engine's observer that turns each engine callback into
// one message to one of SipEngineManager's three delegates, asked for at that
// moment (none installed: the report is dropped). For the call states that
// start or end a call it also keeps the manager's current call: set on state
// 0, cleared on 1, 2, 3 and 7, whether or not a delegate is installed.
//
// Life cycle: the manager makes one at engine start-up and deletes it at
// shutdown. No state of its own, no locks, no queue hops: every callback runs
// to completion on the thread that pumps the engine.
#pragma once

#include "SipEngineSDK/SipEngine.h"

namespace pellix {

class SipEngineManager;

class SipEventObserver : public client::RegistrationObserver,
                         public client::CallStateObserver,
                         public client::VideoStreamObserver {
public:
    // `manager`: the SipEngineManager (not owned); `engine`: kept, not used.
    SipEventObserver(void* manager, client::SipEngine* engine);
    ~SipEventObserver() override;
    SipEventObserver(const SipEventObserver&) = delete;
    SipEventObserver& operator=(const SipEventObserver&) = delete;

    void OnRegistrationProgress(client::SipProfile* profile) override;
    void OnRegistrationSuccess(client::SipProfile* profile) override;
    void OnRegistrationCleared(client::SipProfile* profile) override;
    void OnRegistrationFailed(client::SipProfile* profile, int code, char const* reason) override;

    void OnCallStateChange(client::Call* call, client::Call::CallState state) override;
    void OnDtmf(client::Call* call, char const* tone) override;
    void OnMediaStreamUpdate(client::Call* call, client::CallMediaStreamType type,
                             client::Call::MediaDirection direction) override;

    void IncomingFrameSizeChanged(int stream, unsigned short width, unsigned short height) override;
    void IncomingRate(int stream, unsigned int frameRate, unsigned int bitRate) override;
    void OutgoingRate(int stream, unsigned int frameRate, unsigned int bitRate) override;

private:
    SipEngineManager* manager() const;
    void* manager_;
    client::SipEngine* engine_;
};

}  // namespace pellix
