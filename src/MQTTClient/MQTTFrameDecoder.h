// MQTTFrameDecoder: cuts a byte stream into whole MQTT control packets.
//
// It knows only the framing of the fixed header: one type byte, then the
// remaining length as a variable byte integer, then that many bytes. It does
// not look at packet contents; a wrong type, flags or body is for the parser
// (MQTTMessage::parse) to find. Chunks may split a packet anywhere and may
// hold several packets; packets come out in arrival order.
//
// Bounds: a remaining length needing a fifth byte, or above 2,097,151 (the
// largest the parser accepts), is a protocol error at once, so the decoder
// never holds more than one maximal packet (2,097,156 bytes). A packet that
// lies whole inside one chunk is handed over as a view of that chunk without
// copying; only packets split across chunks are assembled in a buffer, which
// is reused from packet to packet.
//
// No I/O, no threads, no allocation except for assembling split packets.
// Not synchronised: one thread at a time (MQTTDecoder runs it on its queue).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/Value.h"

namespace pellix {

// The decoder's states; 4 is not used.
enum MQTTDecoderState : std::uint32_t {
    MQTTDecoderStateIdle = 0,    // not opened; bytes are not read
    MQTTDecoderStateHeader = 1,  // waiting for the first byte of a packet
    MQTTDecoderStateLength = 2,  // reading remaining-length bytes
    MQTTDecoderStateBody = 3,    // reading the remaining bytes
    MQTTDecoderStateError = 5,   // framing failed; bytes are no longer read
};

class MQTTFrameDecoder {
public:
    // Largest remaining length accepted, and the largest packet held.
    static constexpr std::uint32_t kMaxRemainingLength = 2097151;
    static constexpr std::size_t kMaxPacketSize = 1 + 4 + kMaxRemainingLength;

    MQTTDecoderState state() const { return state_; }
    // Remaining length of the packet being read, the weight of its next
    // length byte, and the fixed-header bytes read so far (1 + length bytes).
    std::uint32_t length() const { return length_; }
    std::uint32_t lengthMultiplier() const { return lengthMultiplier_; }
    std::int32_t offset() const { return offset_; }
    // Bytes of a split packet assembled so far (empty between packets and
    // while a packet is read straight from its chunk).
    std::span<const std::uint8_t> buffered() const { return buffer_; }
    // Memory held for assembling: below 64 KiB between packets, never more
    // than twice the largest packet.
    std::size_t bufferCapacity() const { return buffer_.capacity(); }

    // Starts (or restarts) reading at a packet boundary: state Header, and
    // whatever was assembled is dropped.
    void open() {
        state_ = MQTTDecoderStateHeader;
        length_ = 0;
        lengthMultiplier_ = 1;
        offset_ = 0;
        buffer_.clear();
    }

    // Feeds one chunk. `deliver(std::span<const uint8_t> packet)` is called
    // for each whole packet, the view valid only during the call; it returns
    // false to stop reading (the rest of the chunk is then dropped, the state
    // stays at the packet boundary). Reads nothing in the idle and error
    // states; ends in the error state on a bad remaining length.
    template <class Deliver>
    void feed(std::span<const std::uint8_t> chunk, Deliver&& deliver);

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    // A buffer that grew past this after a big packet is given back.
    static constexpr std::size_t kKeptCapacity = 64 * 1024;

    void releaseBuffer() {
        if (buffer_.capacity() > kKeptCapacity) {
            platform::Bytes().swap(buffer_);
        } else {
            buffer_.clear();
        }
    }

    MQTTDecoderState state_ = MQTTDecoderStateIdle;
    std::uint32_t length_ = 0;
    std::uint32_t lengthMultiplier_ = 1;
    std::int32_t offset_ = 0;
    platform::Bytes buffer_;
};

template <class Deliver>
void MQTTFrameDecoder::feed(std::span<const std::uint8_t> chunk, Deliver&& deliver) {
    if (state_ == MQTTDecoderStateIdle || state_ == MQTTDecoderStateError) {
        return;
    }
    const std::size_t n = chunk.size();
    std::size_t i = 0;
    // Where the current packet starts in this chunk; kNone when it began in an
    // earlier chunk and its first bytes are in buffer_.
    std::size_t start = kNone;
    for (;;) {
        if (state_ == MQTTDecoderStateHeader) {
            if (i == n) {
                return;
            }
            start = i++;
            length_ = 0;
            lengthMultiplier_ = 1;
            offset_ = 1;
            state_ = MQTTDecoderStateLength;
        }
        while (state_ == MQTTDecoderStateLength) {
            if (i == n) {
                if (start != kNone) {
                    buffer_.assign(chunk.begin() + static_cast<std::ptrdiff_t>(start), chunk.end());
                }
                return;
            }
            const std::uint8_t digit = chunk[i++];
            if (start == kNone) {
                buffer_.push_back(digit);
            }
            ++offset_;
            length_ += (digit & 0x7Fu) * lengthMultiplier_;
            // A fifth length byte, or a length the parser would refuse, can
            // only be garbage; waiting for its body would hold up to 256 MiB.
            if (length_ > kMaxRemainingLength || ((digit & 0x80) != 0 && offset_ == 5)) {
                state_ = MQTTDecoderStateError;
                releaseBuffer();
                return;
            }
            if ((digit & 0x80) != 0) {
                lengthMultiplier_ *= 128;
            } else {
                state_ = MQTTDecoderStateBody;
            }
        }
        const std::size_t total = static_cast<std::size_t>(offset_) + length_;
        if (start != kNone) {
            if (total <= n - start) {
                i = start + total;
                state_ = MQTTDecoderStateHeader;
                if (!deliver(chunk.subspan(start, total))) {
                    return;
                }
                continue;
            }
            buffer_.assign(chunk.begin() + static_cast<std::ptrdiff_t>(start), chunk.end());
            return;
        }
        const std::size_t take = std::min(total - buffer_.size(), n - i);
        buffer_.insert(buffer_.end(), chunk.begin() + static_cast<std::ptrdiff_t>(i),
                       chunk.begin() + static_cast<std::ptrdiff_t>(i + take));
        i += take;
        if (buffer_.size() < total) {
            return;
        }
        state_ = MQTTDecoderStateHeader;
        // The packet is handed over from the buffer; the buffer is emptied
        // only after the call, so the view stays valid throughout it.
        const bool go = deliver(std::span<const std::uint8_t>(buffer_));
        releaseBuffer();
        if (!go) {
            return;
        }
    }
}

}  // namespace pellix
