// HOSRequest: base of every storage request record. It owns the request's
// networking state (HOSNetworkingRequestDelegate), the cancel switch, the
// CRC-64 choice and whether the request is signed.
//
// cancel() may come from any thread at any time and more than once; it is
// one-way. The other fields are set by the caller before the record is handed
// to an operation.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace pellix {

class HOSNetworkingRequestDelegate;

enum HOSCrcFlag : std::uint64_t {
    HOSCrcFlagUnset = 0,  // follow the client configuration
    HOSCrcFlagOn = 1,
    HOSCrcFlagOff = 2,
};

class HOSRequest {
public:
    HOSRequest();
    virtual ~HOSRequest() = default;
    HOSRequest(const HOSRequest&) = delete;
    HOSRequest& operator=(const HOSRequest&) = delete;

    const std::shared_ptr<HOSNetworkingRequestDelegate>& requestDelegate() const { return requestDelegate_; }
    void setRequestDelegate(std::shared_ptr<HOSNetworkingRequestDelegate> d) { requestDelegate_ = std::move(d); }
    bool isAuthenticationRequired() const { return isAuthenticationRequired_; }
    void setIsAuthenticationRequired(bool v) { isAuthenticationRequired_ = v; }
    bool isCancelled() const { return isCancelled_.load(); }
    std::uint64_t crcFlag() const { return crcFlag_; }
    void setCrcFlag(std::uint64_t flag) { crcFlag_ = flag; }

    virtual void cancel();

private:
    std::shared_ptr<HOSNetworkingRequestDelegate> requestDelegate_;
    bool isAuthenticationRequired_ = true;
    std::atomic<bool> isCancelled_{false};
    std::uint64_t crcFlag_ = HOSCrcFlagUnset;
};

}  // namespace pellix
