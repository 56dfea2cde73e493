// The CRC-64 of a byte buffer on its own, as the put, append and upload-part
// operations send it and the response parser checks each received chunk.
// Safe from any thread.
#pragma once

#include <cstdint>

#include "platform/Value.h"

namespace pellix {

// aos_crc64 from 0 over the whole buffer: the check of that data alone
// (0 for an empty buffer).
std::uint64_t hos_crc64(const platform::Bytes& data);

}  // namespace pellix
