#include "MQTTClient/MQTTCFSocketTransport.h"

#include <fstream>
#include <iterator>

#include "MQTTClient/MQTTLog.h"
#include "platform/DispatchQueue.h"
#include "platform/SocketInputStream.h"
#include "platform/SocketOutputStream.h"

namespace pellix {

namespace {

// The error a refused TLS settings dictionary gives.
constexpr std::int64_t kSSLInitFailed = -9810;

platform::ErrorPtr sslInitError(const char* text) {
    return platform::Error::make("MQTT", kSSLInitFailed,
                                 platform::Dictionary{{platform::Error::kLocalizedDescriptionKey, platform::Value(text)}});
}

}  // namespace

std::shared_ptr<MQTTCFSocketTransport> MQTTCFSocketTransport::create() {
    return std::shared_ptr<MQTTCFSocketTransport>(new MQTTCFSocketTransport());
}

MQTTCFSocketTransport::MQTTCFSocketTransport() {
    setHost("localhost");
    setPort(1883);
    tls_ = false;
    voip_ = false;
    certificates_.reset();
    setQueue(platform::DispatchQueue::main());
    setStreamSSLLevel(std::string(platform::TLSSettings::kLevelNegotiatedSSL));
}

MQTTCFSocketTransport::~MQTTCFSocketTransport() {
    auto q = queue();
    bool connected;
    {
        std::lock_guard lock(mutex_);
        connected = encoder_ || decoder_;
    }
    if (connected) {
        if (!q || platform::DispatchQueue::getCurrentSpecific(&QueueIdentityKey) == q.get()) {
            internalClose();
        } else {
            q->sync([this] { internalClose(); });
        }
    }
    if (q && q->getSpecific(&QueueIdentityKey) == q.get()) q->setSpecific(&QueueIdentityKey, nullptr);
}

void MQTTCFSocketTransport::setQueue(std::shared_ptr<platform::DispatchQueue> queue) {
    auto old = this->queue();
    if (old && old != queue && old->getSpecific(&QueueIdentityKey) == old.get()) {
        old->setSpecific(&QueueIdentityKey, nullptr);
    }
    if (queue) queue->setSpecific(&QueueIdentityKey, queue.get());
    MQTTTransport::setQueue(std::move(queue));
}

bool MQTTCFSocketTransport::tls() const {
    std::lock_guard lock(mutex_);
    return tls_;
}
void MQTTCFSocketTransport::setTls(bool tls) {
    std::lock_guard lock(mutex_);
    tls_ = tls;
}
bool MQTTCFSocketTransport::voip() const {
    std::lock_guard lock(mutex_);
    return voip_;
}
void MQTTCFSocketTransport::setVoip(bool voip) {
    std::lock_guard lock(mutex_);
    voip_ = voip;
}
std::optional<MQTTCertificates> MQTTCFSocketTransport::certificates() const {
    std::lock_guard lock(mutex_);
    return certificates_;
}
void MQTTCFSocketTransport::setCertificates(std::optional<MQTTCertificates> certificates) {
    std::lock_guard lock(mutex_);
    certificates_ = std::move(certificates);
}
std::shared_ptr<MQTTCFSocketEncoder> MQTTCFSocketTransport::encoder() const {
    std::lock_guard lock(mutex_);
    return encoder_;
}
std::shared_ptr<MQTTCFSocketDecoder> MQTTCFSocketTransport::decoder() const {
    std::lock_guard lock(mutex_);
    return decoder_;
}

platform::TLSSettings MQTTCFSocketTransport::tlsSettings() const {
    platform::TLSSettings settings;
    // An unset level is no level at all, which the streams refuse.
    settings.level = streamSSLLevel().value_or(std::string());
    settings.certificates = certificates();
    return settings;
}

void MQTTCFSocketTransport::open() {
    MQTT_LOG_VERBOSE("[MQTTCFSocketTransport] open");
    setState(MQTTTransportStateOpening);
    auto pair = platform::SocketStreamPair::create(host().value_or(std::string()), port());
    // Our streams always own their socket, so there is no native-socket flag to set.

    platform::ErrorPtr failure;
    if (tls()) {
        platform::TLSSettings settings = tlsSettings();
        if (!pair.input->setTLSSettings(settings)) failure = sslInitError("Fail to init ssl input stream!");
        if (!pair.output->setTLSSettings(settings)) failure = sslInitError("Fail to init ssl output stream!");
    }
    if (failure) {
        MQTT_LOG_ERROR("[MQTTCFSocketTransport] %s", failure->localizedDescription().c_str());
        close();
        // Reported, not just logged: otherwise the session would wait for an
        // open that never comes.
        auto weak = std::weak_ptr<MQTTTransport>(shared_from_this());
        if (auto q = queue()) {
            q->async([weak, failure] {
                auto self = weak.lock();
                if (!self) return;
                if (auto d = self->delegate()) d->mqttTransport(*self, failure);
            });
        }
        return;
    }

    auto self = std::static_pointer_cast<MQTTCFSocketTransport>(shared_from_this());
    auto q = queue();
    bool voip = this->voip();

    auto encoder = MQTTCFSocketEncoder::create();
    auto decoder = MQTTCFSocketDecoder::create();
    std::shared_ptr<MQTTCFSocketEncoder> oldEncoder;
    std::shared_ptr<MQTTCFSocketDecoder> oldDecoder;
    {
        std::lock_guard lock(mutex_);
        oldEncoder = std::exchange(encoder_, encoder);
        oldDecoder = std::exchange(decoder_, decoder);
    }
    if (oldEncoder) oldEncoder->setDelegate({});
    if (oldDecoder) oldDecoder->setDelegate({});

    pair.output->scheduleInQueue(q);
    encoder->setStream(pair.output);
    encoder->setDelegate(std::weak_ptr<MQTTCFSocketEncoderDelegate>(self));
    if (voip) pair.output->setVoIP(true);
    encoder->open();

    pair.input->scheduleInQueue(q);
    decoder->setStream(pair.input);
    decoder->setDelegate(std::weak_ptr<MQTTCFSocketDecoderDelegate>(self));
    if (voip) pair.input->setVoIP(true);
    decoder->open();
}

bool MQTTCFSocketTransport::send(const platform::Bytes& data) {
    auto e = encoder();
    return e ? e->send(data) : false;
}

void MQTTCFSocketTransport::close() {
    auto q = queue();
    if (!q || platform::DispatchQueue::getCurrentSpecific(&QueueIdentityKey) == q.get()) {
        internalClose();
    } else {
        q->sync([this] { internalClose(); });
    }
}

void MQTTCFSocketTransport::internalClose() {
    MQTT_LOG_VERBOSE("[MQTTCFSocketTransport] close");
    setState(MQTTTransportStateClosing);
    auto e = encoder();
    auto d = decoder();
    if (e) {
        e->close();
        e->setDelegate({});
    }
    if (d) {
        d->close();
        d->setDelegate({});
    }
}

void MQTTCFSocketTransport::encoderDidOpen(MQTTCFSocketEncoder&) {
    MQTT_LOG_VERBOSE("[MQTTCFSocketTransport] encoderDidOpen");
    setState(MQTTTransportStateOpen);
    if (auto d = delegate()) d->mqttTransportDidOpen(*this);
}

void MQTTCFSocketTransport::encoder(MQTTCFSocketEncoder&, platform::ErrorPtr error) {
    MQTT_LOG_VERBOSE("[MQTTCFSocketTransport] encoder didFailWithError %s",
                     error ? error->description().c_str() : "(null)");
    setState(MQTTTransportStateClosing);
    if (auto d = delegate()) d->mqttTransport(*this, error);
}

void MQTTCFSocketTransport::encoderdidClose(MQTTCFSocketEncoder&) {
    MQTT_LOG_VERBOSE("[MQTTCFSocketTransport] encoderdidClose");
}

void MQTTCFSocketTransport::decoder(MQTTCFSocketDecoder&, const platform::Bytes& data) {
    if (auto d = delegate()) d->mqttTransport(*this, data);
}

void MQTTCFSocketTransport::decoderDidOpen(MQTTCFSocketDecoder&) {
    MQTT_LOG_VERBOSE("[MQTTCFSocketTransport] decoderDidOpen");
}

void MQTTCFSocketTransport::decoder(MQTTCFSocketDecoder&, platform::ErrorPtr error) {
    // The write side reports the same connection; this one is only logged.
    MQTT_LOG_VERBOSE("[MQTTCFSocketTransport] decoder didFailWithError %s",
                     error ? error->description().c_str() : "(null)");
}

void MQTTCFSocketTransport::decoderdidClose(MQTTCFSocketDecoder&) {
    MQTT_LOG_VERBOSE("[MQTTCFSocketTransport] decoderdidClose");
    setState(MQTTTransportStateClosed);
    if (auto d = delegate()) d->mqttTransportDidClose(*this);
}

std::optional<MQTTCertificates> MQTTCFSocketTransport::clientCertsFromP12(const std::optional<std::string>& path,
                                                                          const std::optional<std::string>& passphrase) {
    if (!path) {
        MQTT_LOG_WARNING("[MQTTCFSocketTransport] no p12 path given");
        return std::nullopt;
    }
    std::ifstream in(*path, std::ios::binary);
    platform::Bytes bytes;
    if (in) bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in || bytes.empty()) {
        MQTT_LOG_WARNING("[MQTTCFSocketTransport] reading p12 failed");
        return std::nullopt;
    }
    if (!passphrase) {
        MQTT_LOG_WARNING("[MQTTCFSocketTransport] no passphrase given");
        return std::nullopt;
    }
    std::int32_t status = 0;
    auto identity = platform::TLSIdentity::importPKCS12(bytes, *passphrase, &status);
    if (!identity) {
        MQTT_LOG_WARNING("[MQTTCFSocketTransport] Error while importing pkcs12 [%d]", status);
        return std::nullopt;
    }
    return MQTTCertificates{identity, identity->certificate()};
}

}  // namespace pellix
