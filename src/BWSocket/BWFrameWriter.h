// BWFrameWriter: builds the frames a WebSocket client sends.
//
// Every frame is final (messages are never fragmented) and masked with the
// key given, as a client must; the length takes the shortest of the three
// forms (7-bit, 16-bit, 64-bit). Pure: no I/O, no state; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "BWSocket/BWFrameReader.h"
#include "platform/Value.h"

namespace pellix {

using BWMaskKey = std::array<std::uint8_t, 4>;

// Appends one frame to `out` (so a writer can build straight into its
// output buffer).
void BWAppendFrame(platform::Bytes& out, BWOpcode opcode, std::span<const std::uint8_t> payload, BWMaskKey key);

// A masking key from the system's secure random source.
BWMaskKey BWRandomMaskKey();

}  // namespace pellix
