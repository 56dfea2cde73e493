#include "HOSSDK/HOSInputStreamHelper.h"

#include <chrono>
#include <vector>

#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "HOSSDK/aos_crc64.h"
#include "platform/URLError.h"

namespace pellix {

HOSInputStreamHelper::HOSInputStreamHelper(const std::string& path) : stream_(platform::InputStream::withFile(path)) {}

HOSInputStreamHelper::HOSInputStreamHelper(const platform::URL& fileURL) : HOSInputStreamHelper(fileURL.path()) {}

void HOSInputStreamHelper::syncReadBuffers() {
    std::lock_guard<std::mutex> guard(lock_);
    const auto start = std::chrono::steady_clock::now();
    if (stream_->streamStatus() == platform::InputStream::Status::NotOpen) stream_->open();
    // Large reads: the check of a finished upload reads the whole file
    // again while the caller waits, and at 4 KiB a read the system calls
    // cost more than the CRC.
    std::vector<std::uint8_t> buffer(std::size_t{256} << 10);
    for (;;) {
        const auto n = stream_->read(buffer.data(), buffer.size());
        if (n == 0) break;
        if (n < 0) {
            error_ = stream_->streamError();
            if (!error_) error_ = platform::Error::make("NSPOSIXErrorDomain", 5);
            HOS_LOG_ERROR("%s", "there is an error when reading buffer from file!");
            break;
        }
        crc64_ = aos_crc64(crc64_, buffer.data(), static_cast<std::size_t>(n));
    }
    stream_->close();
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    HOS_LOG_DEBUG("read file cost time is :%f", elapsed);
}

}  // namespace pellix
