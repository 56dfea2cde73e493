#pragma once
// client::Config: the engine's static configuration record.
//
// The host builds one record before it creates the engine, passes it by
// reference to SipEngineFactory::Create and may keep writing to it: the
// engine reads the user agent, STUN and relay values and the codec lists each
// time it needs them (a registration, an offer, an answer), so a change
// reaches the next request. The record must outlive the engine.
//
// Every 64-character text holds at most 63 bytes and a terminating zero; write
// them with setText(), which cuts longer values at a UTF-8 character boundary.
#include <cstdint>
#include <string>
#include <string_view>

namespace client {

// Copies `value` into a fixed text field, cut to the field's size less one
// byte; the cut never splits a UTF-8 character (a split character would make
// the field invalid UTF-8 on the wire).
void setText(char* field, std::size_t fieldSize, std::string_view value);
template <std::size_t N>
void setText(char (&field)[N], std::string_view value) {
    setText(field, N, value);
}
// The byte count of the longest prefix of `value` of at most `maxBytes` bytes
// that ends on a UTF-8 character boundary.
std::size_t utf8PrefixLength(std::string_view value, std::size_t maxBytes);
// The text of a fixed field up to its zero (or its end when there is none).
template <std::size_t N>
std::string textOf(const char (&field)[N]) {
    std::size_t n = 0;
    while (n < N && field[n] != '\0') ++n;
    return std::string(field, n);
}

struct Config {
    struct Transport {
        // UDP, TCP, TLS, WS and WSS ports; 0 picks a free port. Only the
        // first (UDP) is bound by this engine.
        int32_t udpPort = 5060;
        int32_t tcpPort = 5060;
        int32_t tlsPort = 5061;
        int32_t wsPort = 5080;
        int32_t wssPort = 5081;
        bool enableIPv4 = true;
        bool enableIPv6 = true;
        char ipv4BindAddress[64] = "0.0.0.0";
        char ipv6BindAddress[64] = "::";
    } transport;

    struct Security {
        char caFile[64] = {};
        char certificateFile[64] = {};
        char privateKeyFile[64] = {};
        struct TlsCertificate {
            char domain[64] = {};
            char certificateFile[64] = {};
            char privateKeyFile[64] = {};
            char password[64] = {};
        } certificates[8];
    } security;

    struct MediaOptions {
        int32_t rtpPortMin = 10000;
        int32_t rtpPortMax = 65535;
        int32_t rtpTimeoutMs = 5000;     // set to 10000 by the host at start-up
        int32_t audioBitrateKbps = 128;
        int32_t videoBitrateKbps = 512;
        char stunServer[64] = "stun.l.google.com";
        uint16_t stunPort = 19302;
        char relayUserName[64] = {};
        char relayPassword[64] = {};
        char audioCodecs[64] = "opus,isac,g729,pcma,pcmu";
        char videoCodecs[64] = "vp8,vp9,h264,red,ulpfec,rtx";
        int32_t mtu = 1200;
        // STUN is used only when this is on; with it off nothing is ever sent
        // to the STUN host.
        bool enableStun = false;
    } media;

    char userAgent[64] = "Client v2.0";

    struct Log {
        int32_t level = 3;
        bool enabled = false;
        char traceFile[64] = "sip_trac.txt";
    } log;
};

}  // namespace client
