// HOSInputStreamHelper: the CRC-64 of a whole file, read through a stream
// 4096 bytes at a time, for uploads whose local CRC was not computed before
// sending.
//
// A read error is reported (`error()`), not folded into a partial value that
// would later be compared as if it were the file's: the caller must treat a
// reader with an error as "CRC unknown". Concurrent syncReadBuffers calls on
// one reader run one after the other.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Error.h"
#include "platform/InputStream.h"
#include "platform/URL.h"

namespace pellix {

class HOSInputStreamHelper {
public:
    explicit HOSInputStreamHelper(const std::string& path);
    explicit HOSInputStreamHelper(const platform::URL& fileURL);
    HOSInputStreamHelper(const HOSInputStreamHelper&) = delete;
    HOSInputStreamHelper& operator=(const HOSInputStreamHelper&) = delete;

    // Reads the rest of the stream, continuing the stored CRC.
    void syncReadBuffers();
    std::uint64_t crc64() const { return crc64_; }
    // The stream's error when opening or a read failed; null otherwise.
    const platform::ErrorPtr& error() const { return error_; }

private:
    std::shared_ptr<platform::InputStream> stream_;
    std::mutex lock_;
    std::uint64_t crc64_ = 0;
    platform::ErrorPtr error_;
};

}  // namespace pellix
