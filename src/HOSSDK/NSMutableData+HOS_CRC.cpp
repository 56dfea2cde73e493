#include "HOSSDK/NSMutableData+HOS_CRC.h"

#include "HOSSDK/aos_crc64.h"

namespace pellix {

std::uint64_t hos_crc64(const platform::Bytes& data) { return aos_crc64(0, data.data(), data.size()); }

}  // namespace pellix
