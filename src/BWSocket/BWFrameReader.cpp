#include "BWSocket/BWFrameReader.h"

#include <algorithm>
#include <cstdio>

#include "BWSocket/BWUTF8.h"

namespace pellix {

namespace {

bool isControl(std::uint8_t opcode) { return opcode >= 8; }
bool isKnown(std::uint8_t opcode) { return opcode <= 2 || (opcode >= 8 && opcode <= 10); }

constexpr const char* kBadText = "Text frames must be valid UTF-8";

}  // namespace

bool BWCloseCodeIsValid(std::int32_t code) {
    return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1011) || (code >= 3000 && code <= 4999);
}

std::size_t BWFrameReader::headerLength() const {
    std::size_t n = 2;
    const std::uint8_t lengthCode = header_[1] & 0x7F;
    if (lengthCode == 126) n += 2;
    if (lengthCode == 127) n += 8;
    if (header_[1] & 0x80) n += 4;
    return n;
}

void BWFrameReader::fail(BWFrameReaderHandler& handler, std::uint16_t code, std::string reason) {
    state_ = State::Stopped;
    message_ = {};
    control_ = {};
    handler.frameReaderError(code, std::move(reason));
}

void BWFrameReader::feed(std::span<const std::uint8_t> bytes, BWFrameReaderHandler& handler) {
    while (state_ != State::Stopped) {
        if (state_ == State::Header) {
            if (bytes.empty()) return;
            // The first two bytes say how long the header is.
            std::size_t want = headerHave_ < 2 ? 2 : headerLength();
            std::size_t take = std::min(want - headerHave_, bytes.size());
            std::copy_n(bytes.begin(), take, header_.begin() + static_cast<std::ptrdiff_t>(headerHave_));
            headerHave_ += take;
            bytes = bytes.subspan(take);
            if (headerHave_ < want) return;
            if (headerHave_ == 2 && headerLength() > 2) continue;
            headerComplete(handler);
        } else {
            // A frame with an empty payload completes without further bytes.
            if (remaining_ > 0 && bytes.empty()) return;
            std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, bytes.size()));
            remaining_ -= take;
            payloadPiece(bytes.first(take), handler);
            bytes = bytes.subspan(take);
            if (state_ == State::Payload && remaining_ == 0) frameComplete(handler);
        }
    }
}

void BWFrameReader::headerComplete(BWFrameReaderHandler& handler) {
    headerHave_ = 0;
    const std::uint8_t b0 = header_[0];
    const std::uint8_t b1 = header_[1];
    const std::uint8_t opcode = b0 & 0x0F;
    const bool control = isControl(opcode);
    if (b0 & 0x70) return fail(handler, 1002, "Server used RSV bits");
    if (!control && opcode != 0 && messageOpcode_ != 0)
        return fail(handler, 1002, "all data frames after the initial data frame must have opcode 0");
    if (opcode == 0 && messageOpcode_ == 0) return fail(handler, 1002, "cannot continue a message");
    // Nothing of a masked frame is delivered: a server that masks is broken
    // or is not a server.
    if (b1 & 0x80) return fail(handler, 1002, "Client must receive unmasked data");
    if (!isKnown(opcode)) {
        char reason[32];
        std::snprintf(reason, sizeof reason, "Unknown opcode %ld", static_cast<long>(opcode));
        return fail(handler, 1002, reason);
    }
    if (control && !(b0 & 0x80)) return fail(handler, 1002, "Fragmented control frames not allowed");
    if (control && (b1 & 0x7F) >= 126)
        return fail(handler, 1002, "Control frames cannot have payloads larger than 126 bytes");

    std::uint64_t length = b1 & 0x7F;
    if (length == 126) {
        length = (std::uint64_t{header_[2]} << 8) | header_[3];
    } else if (length == 127) {
        length = 0;
        for (int i = 2; i < 10; ++i) length = (length << 8) | header_[static_cast<std::size_t>(i)];
    }
    if (!control) {
        // Checked before anything of the frame is held.
        const std::uint64_t held = message_.size();
        if (length > maxMessageSize_ || held > maxMessageSize_ - length) return fail(handler, 1009, "Message too big");
        if (opcode != 0) messageOpcode_ = opcode;
    }
    opcode_ = opcode;
    final_ = (b0 & 0x80) != 0;
    remaining_ = length;
    control_.clear();
    state_ = State::Payload;
}

void BWFrameReader::payloadPiece(std::span<const std::uint8_t> piece, BWFrameReaderHandler& handler) {
    if (piece.empty()) return;
    if (isControl(opcode_)) {
        control_.insert(control_.end(), piece.begin(), piece.end());
        return;
    }
    message_.insert(message_.end(), piece.begin(), piece.end());
    if (messageOpcode_ != BWOpcodeText) return;
    const std::int32_t valid = BWValidatePartialUTF8(std::span(message_).subspan(scanned_));
    if (valid < 0) return fail(handler, 1007, kBadText);
    scanned_ += static_cast<std::size_t>(valid);
}

void BWFrameReader::frameComplete(BWFrameReaderHandler& handler) {
    state_ = State::Header;
    switch (opcode_) {
        case BWOpcodePing:
            handler.frameReaderPing(control_);
            return;
        case BWOpcodePong:
            handler.frameReaderPong(control_);
            return;
        case BWOpcodeClose: {
            if (control_.size() == 1) return fail(handler, 1002, "Payload for close must be larger than 2 bytes");
            std::uint16_t code = 1005;
            std::optional<std::string> reason;
            if (control_.size() >= 2) {
                code = static_cast<std::uint16_t>((control_[0] << 8) | control_[1]);
                if (!BWCloseCodeIsValid(code)) {
                    char text[40];
                    std::snprintf(text, sizeof text, "Cannot have close code of %d", static_cast<int>(code));
                    return fail(handler, 1002, text);
                }
                if (control_.size() > 2) {
                    auto bytes = std::span(control_).subspan(2);
                    if (!BWIsValidUTF8(bytes)) return fail(handler, 1002, "Close reason MUST be valid UTF-8");
                    reason.emplace(bytes.begin(), bytes.end());
                }
            }
            state_ = State::Stopped;
            handler.frameReaderClose(code, std::move(reason));
            return;
        }
        default:
            break;
    }
    if (!final_) return;
    // A character cut by the end of the message is no character.
    if (messageOpcode_ == BWOpcodeText && scanned_ != message_.size()) return fail(handler, 1007, kBadText);
    const auto opcode = static_cast<BWOpcode>(messageOpcode_);
    messageOpcode_ = 0;
    scanned_ = 0;
    platform::Bytes message = std::move(message_);
    message_ = {};
    handler.frameReaderMessage(opcode, std::move(message));
}

}  // namespace pellix
