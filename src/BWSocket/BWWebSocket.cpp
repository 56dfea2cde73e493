#include "BWSocket/BWWebSocket.h"

#include <algorithm>

#include "BWSocket/BWAdditions.h"
#include "BWSocket/BWFrameWriter.h"
#include "platform/DispatchQueue.h"
#include "platform/OperationQueue.h"
#include "platform/SocketInputStream.h"
#include "platform/SocketOutputStream.h"
#include "platform/TLSSettings.h"
#include "platform/TrustEvaluation.h"
#include "platform/ServerTrust.h"

namespace pellix {

namespace {

constexpr const char* kInconsistency = "NSInternalInconsistencyException";
constexpr const char* kInvalidArgument = "NSInvalidArgumentException";
constexpr std::size_t kReadChunk = 64 * 1024;
// Consumed bytes are dropped only when more than this many lead the buffer
// and they are more than half of it, so they are not moved byte by byte.
constexpr std::size_t kCompactThreshold = 4096;
// The longest reason that still fits a control frame (125 bytes less the code).
constexpr std::size_t kMaxCloseReason = 123;

platform::ErrorPtr describedError(const char* domain, std::int64_t code, std::string text) {
    return platform::Error::make(domain, code,
                                 platform::Dictionary{{platform::Error::kLocalizedDescriptionKey, platform::Value(std::move(text))}});
}

std::string lowered(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool isSecureScheme(const std::string& scheme) { return scheme == "wss" || scheme == "https"; }

// Cuts a reason to what a close frame can carry, at a character boundary.
std::string fittedReason(std::string reason) {
    if (reason.size() <= kMaxCloseReason) return reason;
    std::size_t n = kMaxCloseReason;
    while (n > 0 && (static_cast<unsigned char>(reason[n]) & 0xC0) == 0x80) --n;
    reason.resize(n);
    return reason;
}

}  // namespace

// Turns the frame reader's events into the socket's actions; work queue only.
class BWWebSocket::Reader final : public BWFrameReaderHandler {
public:
    explicit Reader(BWWebSocket& socket) : socket_(socket) {}

    void frameReaderMessage(BWOpcode opcode, platform::Bytes&& payload) override {
        auto& s = socket_;
        bool asString = opcode == BWOpcodeText;
        if (asString) {
            auto d = s.delegate();
            if (d && d->implements(BWWebSocketDelegate::Method::ShouldConvertTextFrameToString))
                asString = d->webSocketShouldConvertTextFrameToString(s);
        }
        s.deliverMessage(asString ? platform::Value(std::string(payload.begin(), payload.end()))
                                  : platform::Value(std::move(payload)));
    }
    void frameReaderPing(std::span<const std::uint8_t> payload) override {
        if (socket_.readyState() == BWReadyStateOpen) socket_.sendFrame(BWOpcodePong, payload);
    }
    void frameReaderPong(std::span<const std::uint8_t> payload) override {
        auto pong = std::make_shared<platform::Bytes>(payload.begin(), payload.end());
        socket_.performDelegate([pong](BWWebSocketDelegate& d, BWWebSocket& ws) {
            if (d.implements(BWWebSocketDelegate::Method::DidReceivePong)) d.webSocket(ws, *pong);
        });
    }
    void frameReaderClose(std::uint16_t code, std::optional<std::string> reason) override {
        auto& s = socket_;
        s.receivedClose_ = true;
        s.closeCode_ = code;
        s.closeReason_ = std::move(reason);
        // The answer always carries 1000, whatever the server's code.
        if (s.readyState() == BWReadyStateOpen) s.startClose(1000, std::nullopt);
        s.closeConnection();
    }
    void frameReaderError(std::uint16_t closeCode, std::string reason) override {
        socket_.violation(closeCode, std::move(reason));
    }

private:
    BWWebSocket& socket_;
};

std::shared_ptr<BWWebSocket> BWWebSocket::create(platform::URLRequest request,
                                                 std::optional<std::vector<std::string>> protocols,
                                                 bool allowsUntrustedSSLCertificates) {
    const std::string scheme = lowered(request.url().scheme());
    if (scheme != "ws" && scheme != "wss" && scheme != "http" && scheme != "https")
        throw platform::Exception(kInvalidArgument, "Unsupported URL scheme \"" + scheme + "\" for BWWebSocket");
    if (request.url().host().empty()) throw platform::Exception(kInvalidArgument, "BWWebSocket needs a URL with a host");
    std::shared_ptr<BWWebSocket> socket(
        new BWWebSocket(std::move(request), std::move(protocols), allowsUntrustedSSLCertificates));
    socket->input_->setDelegate(socket);
    socket->output_->setDelegate(socket);
    return socket;
}

std::shared_ptr<BWWebSocket> BWWebSocket::create(platform::URL url, std::optional<std::vector<std::string>> protocols,
                                                 bool allowsUntrustedSSLCertificates) {
    return create(platform::URLRequest(std::move(url)), std::move(protocols), allowsUntrustedSSLCertificates);
}

BWWebSocket::BWWebSocket(platform::URLRequest request, std::optional<std::vector<std::string>> protocols,
                         bool allowsUntrusted)
    : request_(std::move(request)),
      requestedProtocols_(std::move(protocols)),
      allowsUntrusted_(allowsUntrusted),
      secure_(isSecureScheme(lowered(request_.url().scheme()))),
      workQueue_(platform::DispatchQueue::serial("")),
      delegateQueue_(platform::DispatchQueue::main()),
      pinned_(BW_SSLPinnedCertificates(request_)) {
    const auto& url = request_.url();
    std::uint32_t port = url.port() && *url.port() > 0 ? static_cast<std::uint32_t>(*url.port()) : (secure_ ? 443 : 80);
    auto pair = platform::SocketStreamPair::create(url.host(), port);
    input_ = std::move(pair.input);
    output_ = std::move(pair.output);
    input_->scheduleInQueue(workQueue_);
    output_->scheduleInQueue(workQueue_);
}

BWWebSocket::~BWWebSocket() {
    input_->setDelegate({});
    output_->setDelegate({});
    input_->close();
    output_->close();
}

// ---- settings ---------------------------------------------------------------

void BWWebSocket::setSSLPinnedCertificates(std::optional<std::vector<platform::Bytes>> certificates) {
    std::lock_guard lock(mutex_);
    pinned_ = std::move(certificates);
}
std::optional<std::vector<platform::Bytes>> BWWebSocket::SSLPinnedCertificates() const {
    std::lock_guard lock(mutex_);
    return pinned_;
}
std::shared_ptr<BWWebSocketDelegate> BWWebSocket::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}
void BWWebSocket::setDelegate(std::weak_ptr<BWWebSocketDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}
std::shared_ptr<platform::DispatchQueue> BWWebSocket::delegateDispatchQueue() const {
    std::lock_guard lock(mutex_);
    return delegateQueue_;
}
void BWWebSocket::setDelegateDispatchQueue(std::shared_ptr<platform::DispatchQueue> queue) {
    std::lock_guard lock(mutex_);
    delegateQueue_ = std::move(queue);
}
std::shared_ptr<platform::OperationQueue> BWWebSocket::delegateOperationQueue() const {
    std::lock_guard lock(mutex_);
    return delegateOperationQueue_;
}
void BWWebSocket::setDelegateOperationQueue(std::shared_ptr<platform::OperationQueue> queue) {
    std::lock_guard lock(mutex_);
    delegateOperationQueue_ = std::move(queue);
}
std::optional<std::string> BWWebSocket::protocol() const {
    std::lock_guard lock(mutex_);
    return protocol_;
}
std::optional<BWHandshakeResponse> BWWebSocket::receivedHTTPHeaders() const {
    std::lock_guard lock(mutex_);
    return response_;
}
std::optional<std::vector<BWHTTPCookie>> BWWebSocket::requestCookies() const {
    std::lock_guard lock(mutex_);
    return cookies_;
}
void BWWebSocket::setRequestCookies(std::optional<std::vector<BWHTTPCookie>> cookies) {
    std::lock_guard lock(mutex_);
    cookies_ = std::move(cookies);
}
void BWWebSocket::setMaxMessageSize(std::uint64_t bytes) {
    std::lock_guard lock(mutex_);
    maxMessageSize_ = bytes;
}
void BWWebSocket::setClosingTimeout(double seconds) {
    std::lock_guard lock(mutex_);
    closingTimeout_ = seconds;
}

void BWWebSocket::advanceState(BWReadyState state) {
    // Forward only; the paths that call this never go back.
    BWReadyState current = readyState_.load();
    while (current < state && !readyState_.compare_exchange_weak(current, state)) {
    }
}

// ---- opening ----------------------------------------------------------------

void BWWebSocket::open() {
    if (readyState() != BWReadyStateConnecting || opened_.exchange(true))
        throw platform::Exception(kInconsistency, "Cannot call -(void)open on BWWebSocket more than once");
    auto self = shared_from_this();
    workQueue_->sync([self] { self->selfRetain_ = self; });

    if (const double timeout = request_.timeoutInterval(); timeout > 0) {
        // Weak: a socket whose connection ended early is not kept for the whole time-out.
        std::weak_ptr<BWWebSocket> weak = self;
        workQueue_->after(timeout, [weak] {
            auto self = weak.lock();
            if (self && self->readyState() == BWReadyStateConnecting)
                self->failOnQueue(describedError(BWSocketTimeoutErrorDomain, BWSocketTimeoutErrorCode,
                                                 "Timeout Connecting to Server"));
        });
    }

    if (secure_) {
        platform::TLSSettings settings;
        auto pinned = SSLPinnedCertificates();
        if ((pinned && !pinned->empty()) || allowsUntrusted_) settings.validatesCertificateChain = false;
        if (pinned) {
            // Trust then rests on the pins alone, decided before any byte of
            // the handshake is sent.
            settings.trustEvaluator = [pins = *pinned, refused = pinRefused_](const platform::ServerTrust& trust) {
                const bool found = platform::chainContainsPinnedCertificate(trust.certificateChain(), pins);
                if (!found) refused->store(true);
                return found;
            };
        }
        input_->setTLSSettings(settings);
    }
    output_->open();
    input_->open();
}

void BWWebSocket::didConnect() {
    BWHandshakeRequest request;
    request.url = request_.url();
    secKey_ = BWNewSecKey();
    request.secKey = secKey_;
    request.protocols = requestedProtocols_;
    if (auto cookies = requestCookies()) request.cookies = *cookies;
    request.extraHeaders = request_.allHTTPHeaderFields();
    handshake_ = std::make_unique<BWHandshakeResponseParser>();
    const std::string head = request.serialize();
    writeData(std::span(reinterpret_cast<const std::uint8_t*>(head.data()), head.size()));
}

void BWWebSocket::handshakeFinished() {
    std::optional<std::string> accepted;
    auto error = BWCheckHandshakeResponse(handshake_->response(), secKey_, requestedProtocols_, accepted);
    {
        std::lock_guard lock(mutex_);
        response_ = handshake_->response();
        if (!error) protocol_ = accepted;
    }
    if (error) return failOnQueue(error);
    advanceState(BWReadyStateOpen);
    std::uint64_t cap;
    {
        std::lock_guard lock(mutex_);
        cap = maxMessageSize_;
    }
    reader_ = std::make_unique<BWFrameReader>(cap);
    readerHandler_ = std::make_unique<Reader>(*this);
    performDelegate([](BWWebSocketDelegate& d, BWWebSocket& ws) {
        if (d.implements(BWWebSocketDelegate::Method::DidOpen)) d.webSocketDidOpen(ws);
    });
}

// ---- stream events ----------------------------------------------------------

void BWWebSocket::stream(platform::SocketInputStream& stream, platform::StreamEvent event) {
    (void)stream;
    using platform::StreamEvent;
    switch (event) {
        case StreamEvent::OpenCompleted:
            if (readyState() >= BWReadyStateClosing) return;
            if (readyState() == BWReadyStateConnecting && !handshake_) didConnect();
            pumpWriting();
            readAvailable();
            break;
        case StreamEvent::HasBytesAvailable:
            readAvailable();
            break;
        case StreamEvent::ErrorOccurred:
            if (pinRefused_->load())
                failOnQueue(describedError(BWSocketPinningErrorDomain, BWSocketPinningErrorCode, "Invalid server cert"));
            else
                failOnQueue(input_->streamError());
            break;
        case StreamEvent::EndEncountered:
            streamEnded();
            break;
        default:
            break;
    }
}

void BWWebSocket::stream(platform::SocketOutputStream& stream, platform::StreamEvent event) {
    (void)stream;
    using platform::StreamEvent;
    switch (event) {
        case StreamEvent::HasSpaceAvailable:
            outputDrained_ = true;
            pumpWriting();
            break;
        case StreamEvent::ErrorOccurred:
            // The input side reports the same failure of the one connection.
            break;
        default:
            break;
    }
}

void BWWebSocket::streamEnded() {
    readAvailable();
    // Nothing sent now can reach the server: the violation is reported now.
    fireViolation();
    if (auto error = input_->streamError()) return failOnQueue(error);
    // After a protocol error the server's end completes the closing handshake.
    if (failed_) {
        if (!sentClose_) closeStreams(false);
        return;
    }
    // The server closed after its close frame and ours: the closing
    // handshake is complete even if our last write's drain was not seen yet.
    if (receivedClose_ && readyState() == BWReadyStateClosing && !sentClose_ && !failed_) {
        closeStreams(true);
        return;
    }
    if (readyState() != BWReadyStateClosed) {
        advanceState(BWReadyStateClosed);
        scheduleCleanup();
    }
    if (!sentClose_ && !failed_) {
        sentClose_ = true;
        performDelegate([](BWWebSocketDelegate& d, BWWebSocket& ws) {
            if (d.implements(BWWebSocketDelegate::Method::DidClose))
                d.webSocket(ws, std::int64_t{1001}, std::optional<std::string>("Stream end encountered"), false);
        });
    }
}

void BWWebSocket::readAvailable() {
    if (!readBuffer_) readBuffer_ = std::make_unique<std::uint8_t[]>(kReadChunk);
    // Bytes keep being read (and dropped once closed): a connection left with
    // unread bytes would be reset, losing our close frame on the way out.
    while (input_->hasBytesAvailable()) {
        const std::int64_t n = input_->read(readBuffer_.get(), kReadChunk);
        if (n < 0) return failOnQueue(input_->streamError());
        if (n == 0) break;
        handleBytes(std::span<const std::uint8_t>(readBuffer_.get(), static_cast<std::size_t>(n)));
        if (static_cast<std::size_t>(n) < kReadChunk) break;
    }
}

void BWWebSocket::handleBytes(std::span<const std::uint8_t> bytes) {
    if (!reader_) {
        if (!handshake_ || readyState() != BWReadyStateConnecting) return;
        std::size_t consumed = 0;
        switch (handshake_->feed(bytes, consumed)) {
            case BWHandshakeResponseParser::Result::NeedMore:
                return;
            case BWHandshakeResponseParser::Result::Failed:
                return failOnQueue(handshake_->error());
            case BWHandshakeResponseParser::Result::Complete:
                handshakeFinished();
                break;
        }
        if (!reader_) return;
        bytes = bytes.subspan(consumed);
    }
    if (readyState() == BWReadyStateClosed || bytes.empty()) return;
    reader_->feed(bytes, *readerHandler_);
}

// ---- writing ----------------------------------------------------------------

void BWWebSocket::writeData(std::span<const std::uint8_t> bytes) {
    if (closeWhenFinishedWriting_) return;
    outputBuffer_.insert(outputBuffer_.end(), bytes.begin(), bytes.end());
    pumpWriting();
}

void BWWebSocket::sendFrame(BWOpcode opcode, std::span<const std::uint8_t> payload) {
    if (closeWhenFinishedWriting_) return;
    // Nothing may follow our close frame on the wire.
    if (opcode != BWOpcodeClose && readyState() >= BWReadyStateClosing) return;
    BWAppendFrame(outputBuffer_, opcode, payload, BWRandomMaskKey());
    pumpWriting();
}

void BWWebSocket::pumpWriting() {
    if (outputOffset_ < outputBuffer_.size() && output_->hasSpaceAvailable()) {
        const std::int64_t n = output_->write(outputBuffer_.data() + outputOffset_, outputBuffer_.size() - outputOffset_);
        if (n < 0) {
            return failOnQueue(describedError(BWWebSocketErrorDomain, BWWebSocketErrorWriteFailed, "Error writing to stream"));
        }
        if (n > 0) outputDrained_ = false;
        outputOffset_ += static_cast<std::size_t>(n);
        if (outputOffset_ == outputBuffer_.size()) {
            outputBuffer_.clear();
            outputOffset_ = 0;
        } else if (outputOffset_ > kCompactThreshold && outputOffset_ > outputBuffer_.size() / 2) {
            outputBuffer_.erase(outputBuffer_.begin(), outputBuffer_.begin() + static_cast<std::ptrdiff_t>(outputOffset_));
            outputOffset_ = 0;
        }
    }
    const auto inputStatus = input_->streamStatus();
    if (closeWhenFinishedWriting_ && outputOffset_ == outputBuffer_.size() && outputDrained_ && !sentClose_ &&
        inputStatus != platform::InputStream::Status::NotOpen && inputStatus != platform::InputStream::Status::Closed) {
        closeStreams(true);
    }
}

void BWWebSocket::closeStreams(bool clean) {
    sentClose_ = true;
    input_->close();
    output_->close();
    if (!failed_) {
        // Taken now: the fields belong to the work queue, the callback runs elsewhere.
        performDelegate([clean, code = closeCode_, reason = closeReason_](BWWebSocketDelegate& d, BWWebSocket& ws) {
            if (d.implements(BWWebSocketDelegate::Method::DidClose)) d.webSocket(ws, code, reason, clean);
        });
    }
    scheduleCleanup();
}

void BWWebSocket::closeConnection() {
    closeWhenFinishedWriting_ = true;
    pumpWriting();
}

// ---- closing and failing ----------------------------------------------------

void BWWebSocket::close() { closeWithCode(1000, std::nullopt); }

void BWWebSocket::closeWithCode(std::int64_t code, std::optional<std::string> reason) {
    if (code == 0) throw platform::Exception(kInvalidArgument, "closeWithCode: needs a close code");
    auto self = shared_from_this();
    workQueue_->async([self, code, reason = std::move(reason)]() mutable { self->startClose(code, std::move(reason)); });
}

void BWWebSocket::startClose(std::int64_t code, std::optional<std::string> reason) {
    const BWReadyState state = readyState();
    if (state == BWReadyStateClosing || state == BWReadyStateClosed) return;
    advanceState(BWReadyStateClosing);
    if (state == BWReadyStateConnecting) {
        closeConnection();
        return;
    }
    platform::Bytes payload{static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code)};
    if (reason) {
        const std::string fitted = fittedReason(*reason);
        payload.insert(payload.end(), fitted.begin(), fitted.end());
    }
    sendFrame(BWOpcodeClose, payload);

    double timeout;
    {
        std::lock_guard lock(mutex_);
        timeout = closingTimeout_;
    }
    // A server that never answers must not hold the connection open.
    std::weak_ptr<BWWebSocket> weak = shared_from_this();
    workQueue_->after(timeout, [weak] {
        auto self = weak.lock();
        if (!self || self->sentClose_) return;
        self->closeWhenFinishedWriting_ = true;
        self->closeStreams(false);
    });
}

void BWWebSocket::protocolError(std::uint16_t code, std::string reason) {
    // The close frame goes out first; the server's violation is then an
    // error for the caller, not a clean close. The connection stays until the
    // server ends it or the closing time-out cuts it, so the frame arrives.
    startClose(code, reason);
    failOnQueue(describedError(BWWebSocketErrorDomain, code, std::move(reason)), false);
}

void BWWebSocket::violation(std::uint16_t code, std::string reason) {
    // The messages before the violating frame are still the server's to
    // have answered: the failure waits until the delegate has had them and
    // its replies from those callbacks are on the wire. The violating frame
    // itself is refused at once (the reader stops at it).
    if (reader_) reader_->stop();
    violationCode_ = code;
    violationReason_ = std::move(reason);
    violationPending_.store(true);
    if (deliveriesPending_.load() != 0) return;  // the last delivery fires it
    if (!deliveredElsewhere_) return fireViolation();
    // Delivered already, but the sends from those callbacks may still be
    // queued on this queue behind the block running now: go after them.
    auto self = shared_from_this();
    workQueue_->async([self] { self->fireViolation(); });
}

void BWWebSocket::fireViolation() {
    if (!violationPending_.exchange(false)) return;
    protocolError(violationCode_, std::move(violationReason_));
}

void BWWebSocket::deliverMessage(platform::Value message) {
    std::shared_ptr<platform::OperationQueue> operations;
    std::shared_ptr<platform::DispatchQueue> queue;
    {
        std::lock_guard lock(mutex_);
        operations = delegateOperationQueue_;
        queue = delegateQueue_;
    }
    auto self = shared_from_this();
    if (!operations && queue && queue->kind() == platform::DispatchQueue::Kind::Serial) {
        // One hop: the work queue runs the callback itself while holding the
        // delegate's serial queue (after whatever is already queued there),
        // and a send made from the callback goes straight to the stream.
        queue->sync([&] {
            if (auto d = delegate()) d->webSocket(*this, message);
        });
        return;
    }
    if (!operations && !queue) return;
    deliveredElsewhere_ = true;
    deliveriesPending_.fetch_add(1);
    auto block = [self, message = std::move(message)] {
        if (auto d = self->delegate()) d->webSocket(*self, message);
        // The callback's sends are on the work queue by now; a violation
        // that waited for this message goes after them.
        if (self->deliveriesPending_.fetch_sub(1) == 1 && self->violationPending_.load())
            self->workQueue_->async([self] { self->fireViolation(); });
    };
    if (operations)
        operations->addOperation(std::move(block));
    else
        queue->async(std::move(block));
}

void BWWebSocket::failOnQueue(platform::ErrorPtr error, bool closeNow) {
    if (readyState() == BWReadyStateClosed) {
        // A stream failure while waiting for the server to end the connection.
        if (failed_ && !sentClose_) closeStreams(false);
        return;
    }
    failed_ = true;
    if (reader_) reader_->stop();
    // Closed before the callback is queued, so the delegate never sees an earlier state.
    advanceState(BWReadyStateClosed);
    performDelegate([error](BWWebSocketDelegate& d, BWWebSocket& ws) {
        if (d.implements(BWWebSocketDelegate::Method::DidFailWithError)) d.webSocket(ws, error);
    });
    if (!closeNow) return;
    closeConnection();
    scheduleCleanup();
}

void BWWebSocket::scheduleCleanup() {
    if (cleanupScheduled_) return;
    cleanupScheduled_ = true;
    auto self = shared_from_this();
    workQueue_->async([self] {
        // Queued output was handed to the stream, which still sends it as it closes.
        self->input_->setDelegate({});
        self->output_->setDelegate({});
        self->input_->close();
        self->output_->close();
        self->selfRetain_.reset();
    });
}

void BWWebSocket::performDelegate(std::function<void(BWWebSocketDelegate&, BWWebSocket&)> call) {
    auto self = shared_from_this();
    auto block = [self, call = std::move(call)] {
        if (auto d = self->delegate()) call(*d, *self);
    };
    std::shared_ptr<platform::OperationQueue> operations;
    std::shared_ptr<platform::DispatchQueue> queue;
    {
        std::lock_guard lock(mutex_);
        operations = delegateOperationQueue_;
        queue = delegateQueue_;
    }
    if (operations) {
        operations->addOperation(std::move(block));
    } else if (queue) {
        queue->async(std::move(block));
    }
}

// ---- public sending ---------------------------------------------------------

void BWWebSocket::send(const platform::Value& message) {
    if (readyState() == BWReadyStateConnecting)
        throw platform::Exception(kInconsistency, "Invalid State: Cannot call send: until connection is open");
    if (!message.isNull() && !message.isString() && !message.isBytes())
        throw platform::Exception(kInvalidArgument, "NSString or NSData");
    if (message.isNull()) return;
    const auto write = [](BWWebSocket& ws, const platform::Value& message) {
        if (message.isString()) {
            const auto& text = message.asString();
            ws.sendFrame(BWOpcodeText, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
        } else {
            ws.sendFrame(BWOpcodeBinary, message.asBytes());
        }
    };
    // From a callback the work queue runs itself (a delegate on a serial
    // queue): already in order, no second trip through the queue.
    if (workQueue_->isCurrent()) return write(*this, message);
    auto self = shared_from_this();
    workQueue_->async([self, message, write] { write(*self, message); });
}

void BWWebSocket::sendPing(std::optional<platform::Bytes> data) {
    if (readyState() != BWReadyStateOpen)
        throw platform::Exception(kInconsistency, "Invalid State: Cannot call send: until connection is open");
    if (workQueue_->isCurrent()) return sendFrame(BWOpcodePing, data.value_or(platform::Bytes{}));
    auto self = shared_from_this();
    workQueue_->async([self, data = data.value_or(platform::Bytes{})] { self->sendFrame(BWOpcodePing, data); });
}

}  // namespace pellix
