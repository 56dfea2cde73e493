// BWFrameReader: turns the bytes a WebSocket server sends after the opening
// handshake into messages, pings, pongs and the close frame.
//
// Bytes in, events out: no sockets, no threads. Feed it whatever the socket
// read; frames may be cut anywhere and several may come in one piece, and
// the same stream gives the same events however it is cut. Control frames
// between the frames of a fragmented message are reported at once; the
// message is reported whole, after its final frame.
//
// What it refuses, with the close code and reason the client then sends
// (the reader stops at the first one and ignores everything after it):
//   1002 "Server used RSV bits", "all data frames after the initial data
//        frame must have opcode 0", "cannot continue a message", "Client
//        must receive unmasked data" (the masked frame's data is never
//        reported), "Unknown opcode %ld", "Fragmented control frames not
//        allowed", "Control frames cannot have payloads larger than 126
//        bytes", and for a close frame "Payload for close must be larger
//        than 2 bytes", "Cannot have close code of %d", "Close reason MUST
//        be valid UTF-8"
//   1007 "Text frames must be valid UTF-8": checked as text arrives, so bad
//        text is refused before its message ends
//   1009 "Message too big": a message above maxMessageSize() bytes, refused
//        at the frame header, before its payload is held
// A close frame also stops the reader: nothing a server may send follows it.
//
// Memory: the payload of the current message (at most maxMessageSize()), a
// control payload (at most 125 bytes) and a 14-byte header.
//
// Not synchronised: one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/Value.h"

namespace pellix {

enum BWOpcode : std::uint8_t {
    BWOpcodeContinuation = 0,
    BWOpcodeText = 1,
    BWOpcodeBinary = 2,
    BWOpcodeClose = 8,
    BWOpcodePing = 9,
    BWOpcodePong = 10,
};

// Close codes a peer may send: 1000-1003, 1007-1011, 3000-4999.
bool BWCloseCodeIsValid(std::int32_t code);

class BWFrameReaderHandler {
public:
    virtual ~BWFrameReaderHandler() = default;
    // A whole text (already checked as UTF-8) or binary message; the handler
    // may keep the bytes.
    virtual void frameReaderMessage(BWOpcode opcode, platform::Bytes&& payload) = 0;
    virtual void frameReaderPing(std::span<const std::uint8_t> payload) = 0;
    virtual void frameReaderPong(std::span<const std::uint8_t> payload) = 0;
    // The server's close frame: its code (1005 when it carried none) and
    // reason (nullopt when none).
    virtual void frameReaderClose(std::uint16_t code, std::optional<std::string> reason) = 0;
    // The stream broke the protocol: the close code and reason to answer with.
    virtual void frameReaderError(std::uint16_t closeCode, std::string reason) = 0;
};

class BWFrameReader {
public:
    static constexpr std::uint64_t kDefaultMaxMessageSize = 16 * 1024 * 1024;

    explicit BWFrameReader(std::uint64_t maxMessageSize = kDefaultMaxMessageSize) : maxMessageSize_(maxMessageSize) {}

    std::uint64_t maxMessageSize() const { return maxMessageSize_; }
    // True after a close frame or a protocol error (or stop()).
    bool stopped() const { return state_ == State::Stopped; }
    // Ends reading; later bytes are ignored.
    void stop() { state_ = State::Stopped; }

    // Reads one piece of the stream, calling the handler for each event in
    // order. A handler may call stop(); the rest of the piece is then dropped.
    void feed(std::span<const std::uint8_t> bytes, BWFrameReaderHandler& handler);

private:
    enum class State { Header, Payload, Stopped };

    void headerComplete(BWFrameReaderHandler& handler);
    void payloadPiece(std::span<const std::uint8_t> piece, BWFrameReaderHandler& handler);
    void frameComplete(BWFrameReaderHandler& handler);
    void fail(BWFrameReaderHandler& handler, std::uint16_t code, std::string reason);
    std::size_t headerLength() const;

    const std::uint64_t maxMessageSize_;
    State state_ = State::Header;

    std::array<std::uint8_t, 14> header_{};
    std::size_t headerHave_ = 0;

    // The frame being read.
    std::uint8_t opcode_ = 0;  // as sent (0 for a continuation)
    bool final_ = false;
    std::uint64_t remaining_ = 0;

    // The current data message.
    std::uint8_t messageOpcode_ = 0;  // 0: no frame of a message yet
    platform::Bytes message_;
    std::size_t scanned_ = 0;  // leading bytes of a text message checked as UTF-8

    platform::Bytes control_;
};

}  // namespace pellix
