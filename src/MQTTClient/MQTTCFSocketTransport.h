// MQTTCFSocketTransport: an MQTT session over one TCP connection, optionally
// wrapped in TLS, built on the platform's socket stream pair.
//
// Both streams are scheduled on queue() (the main queue unless set), so every
// stream event and every delegate message of the transport runs there. The
// write side belongs to an MQTTCFSocketEncoder (buffered writer), the read
// side to an MQTTCFSocketDecoder (reads of at most 768 bytes); the transport
// relays their events:
//   write side first has room (after the TLS handshake) -> state open, mqttTransportDidOpen
//   write side fails (connect, TLS, broken pipe)        -> state closing, mqttTransport(t, error)
//   read side reaches end of stream                      -> state closed, mqttTransportDidClose
// A read-side error is not passed on (the write side reports the same
// connection once).
//
// TLS settings refused by the streams (an unknown streamSSLLevel, or a
// certificates array whose first element is no identity): the transport
// closes itself (state closing) and reports an "MQTT" -9810 error ("Fail to
// init ssl input stream!" / "Fail to init ssl output stream!") through
// mqttTransport(t, error) on its queue, so a session does not wait for ever.
//
// Threads: send() and close() may be called from any thread. close() off the
// queue waits for the queue; on the queue (from a delegate message) it runs
// at once. Destroying the transport closes it.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "MQTTClient/MQTTCFSocketDecoder.h"
#include "MQTTClient/MQTTCFSocketEncoder.h"
#include "MQTTClient/MQTTTransport.h"
#include "platform/TLSSettings.h"

namespace pellix {

namespace platform {
class ServerTrust;
}

class MQTTCFSocketTransport : public MQTTTransport,
                              public MQTTCFSocketDecoderDelegate,
                              public MQTTCFSocketEncoderDelegate {
public:
    // Host "localhost", port 1883, tls off, voip off, no certificates, the
    // main queue, level "kCFStreamSocketSecurityLevelNegotiatedSSL".
    static std::shared_ptr<MQTTCFSocketTransport> create();
    ~MQTTCFSocketTransport() override;

    // Builds a new stream pair to host:port (TLS when tls()) and opens it.
    void open() override;
    // The encoder's send(): false when not open yet (the bytes are dropped)
    // or after a write failure.
    bool send(const platform::Bytes& data) override;
    // Closes both streams (state closing); no delegate message.
    void close() override;

    // Marks the queue with this transport's own key so close() can tell
    // whether it already runs there.
    void setQueue(std::shared_ptr<platform::DispatchQueue> queue) override;

    bool tls() const;
    void setTls(bool tls);
    // Marks the streams as VoIP traffic (a socket priority hint here).
    bool voip() const;
    void setVoip(bool voip);
    std::optional<MQTTCertificates> certificates() const;
    bool implementsSetCertificates() const override { return true; }
    void setCertificates(std::optional<MQTTCertificates> certificates) override;

    std::shared_ptr<MQTTCFSocketEncoder> encoder() const;
    std::shared_ptr<MQTTCFSocketDecoder> decoder() const;

    // Reads a PKCS#12 file into [identity, certificate] for setCertificates();
    // nullopt (with a warning line) when the path or passphrase is missing,
    // the file cannot be read or the import fails.
    static std::optional<MQTTCertificates> clientCertsFromP12(const std::optional<std::string>& path,
                                                              const std::optional<std::string>& passphrase);

    // MQTTCFSocketEncoderDelegate / MQTTCFSocketDecoderDelegate
    void encoderDidOpen(MQTTCFSocketEncoder& encoder) override;
    void encoder(MQTTCFSocketEncoder& encoder, platform::ErrorPtr error) override;
    void encoderdidClose(MQTTCFSocketEncoder& encoder) override;
    void decoder(MQTTCFSocketDecoder& decoder, const platform::Bytes& data) override;
    void decoderDidOpen(MQTTCFSocketDecoder& decoder) override;
    void decoder(MQTTCFSocketDecoder& decoder, platform::ErrorPtr error) override;
    void decoderdidClose(MQTTCFSocketDecoder& decoder) override;

protected:
    MQTTCFSocketTransport();
    // The TLS settings the streams get; the pinned-TLS transport adds its
    // trust hook here. Called only when tls() is on.
    virtual platform::TLSSettings tlsSettings() const;
    void internalClose();

private:
    // Its address is the queue mark's key; never read.
    char QueueIdentityKey = 0;
    bool tls_ = false;
    bool voip_ = false;
    std::optional<MQTTCertificates> certificates_;
    std::shared_ptr<MQTTCFSocketEncoder> encoder_;
    std::shared_ptr<MQTTCFSocketDecoder> decoder_;
};

}  // namespace pellix
