#include "HOSSDK/HOSHttpResponseParser.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "HOSSDK/HOSOperation.h"
#include "HOSSDK/aos_crc64.h"

namespace pellix {

namespace {
std::string formatted(const char* format, const std::string& text) {
    std::string out = format;
    auto at = out.find("%s");
    if (at != std::string::npos) out.replace(at, 2, text);
    return out;
}

// A large body is written once into memory that was only reserved, so every
// page of it is faulted in, and zeroed by the kernel, as the bytes arrive. On
// the thread that copies the bytes that work, not the copying, bounded a
// download to memory. Huge pages make it one fault per 2 MiB instead of per
// 4 KiB; the kernel may decline, which changes nothing but speed.
constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;

void adviseHugePages(std::uint8_t* data, std::size_t size) {
#ifdef MADV_HUGEPAGE
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t begin = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t end = (start + size) & ~(kHugePage - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

}  // namespace

// Faults the pages of a large reserved body in a little ahead of the bytes,
// on a thread of its own, so the zeroing runs beside the transfer instead of
// inside each copy. It never runs more than kAhead past what was written:
// resident memory stays the body's size plus that much at most. Populating
// changes no byte: a page already present is left as it is.
class HOSHttpResponseParser::FaultAhead {
public:
    static constexpr std::size_t kAhead = 32 << 20;
    static constexpr std::size_t kStep = 4 << 20;

    FaultAhead(std::uint8_t* data, std::size_t size) {
        const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        const auto start = reinterpret_cast<std::uintptr_t>(data);
        const std::uintptr_t begin = (start + page - 1) & ~(std::uintptr_t{page} - 1);
        const std::uintptr_t end = (start + size) & ~(std::uintptr_t{page} - 1);
        if (end <= begin) return;
        base_ = reinterpret_cast<std::uint8_t*>(begin);
        offset_ = begin - start;
        size_ = end - begin;
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            // No thread to spare: the copy faults the pages in itself.
        }
    }
    ~FaultAhead() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) thread_.join();
    }
    FaultAhead(const FaultAhead&) = delete;
    FaultAhead& operator=(const FaultAhead&) = delete;

    // The body now holds `length` bytes from the buffer's start.
    void written(std::size_t length) {
        const std::size_t mark = length > offset_ ? length - offset_ : 0;
        bool wake = false;
        {
            std::lock_guard lock(mutex_);
            written_ = mark;
            // Woken only once a whole step of room has opened up.
            wake = waiting_ && done_ < size_ && done_ < mark + kAhead - kStep;
        }
        if (wake) wake_.notify_one();
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        while (!stop_ && done_ < size_) {
            const std::size_t target = std::min(size_, written_ + kAhead);
            if (done_ >= target) {
                waiting_ = true;
                wake_.wait(lock);
                waiting_ = false;
                continue;
            }
            const std::size_t from = done_, length = std::min(kStep, target - from);
            lock.unlock();
#ifdef MADV_POPULATE_WRITE
            int rc;
            do rc = ::madvise(base_ + from, length, MADV_POPULATE_WRITE);
            while (rc != 0 && errno == EINTR);
            const bool ok = rc == 0;
#else
            const bool ok = false;
#endif
            lock.lock();
            // A kernel without the advice, or no memory to spare: the copy
            // faults the pages in itself, as it would without this helper.
            if (!ok) break;
            done_ = from + length;
        }
    }

    std::uint8_t* base_ = nullptr;
    std::size_t offset_ = 0, size_ = 0;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::size_t written_ = 0, done_ = 0;
    bool waiting_ = false, stop_ = false;
    std::thread thread_;
};

HOSHttpResponseParser::HOSHttpResponseParser(std::int64_t operationType) : type_(operationType) {}

HOSHttpResponseParser::~HOSHttpResponseParser() {
    faultAhead_.reset();
    closeFile();
}

void HOSHttpResponseParser::closeFile() {
    if (fileHandle_) std::fclose(fileHandle_);
    fileHandle_ = nullptr;
}

platform::ErrorPtr HOSHttpResponseParser::finishDownloadFile() {
    // An empty object delivers no chunk: the file is made here, so it holds
    // the object (nothing) rather than what was there before, or is missing.
    if (!fileHandle_)
        if (auto failed = openDownloadFile()) return failed->error();
    // The last buffered bytes reach the disk only now; a full disk shows up
    // here or at the close, and the file is then shorter than the object.
    std::FILE* file = std::exchange(fileHandle_, nullptr);
    const bool flushed = std::fflush(file) == 0;
    const int flushError = errno;
    const bool closed = std::fclose(file) == 0;
    const int closeError = errno;
    if (!flushed) return fileWriteError("flush failed", flushError);
    if (!closed) return fileWriteError("close failed", closeError);
    return nullptr;
}

platform::ErrorPtr HOSHttpResponseParser::fileWriteError(const char* what, int error) const {
    return HOSClientError(HOSClientErrorCodeFileCannotWrite, std::string(what) + " on " +
                                                                 downloadingFileURL_->path() + ": " +
                                                                 std::strerror(error));
}

void HOSHttpResponseParser::consumeHttpResponse(std::shared_ptr<const platform::HTTPURLResponse> response) {
    response_ = std::move(response);
}

HOSTaskPtr HOSHttpResponseParser::openDownloadFile() {
    namespace fs = std::filesystem;
    const fs::path file(downloadingFileURL_->path());
    const fs::path dir = file.parent_path();
    std::error_code ec;
    if (!fs::exists(dir, ec)) fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir, ec))
        return HOSTask::taskWithError(
            HOSClientError(HOSClientErrorCodeFileCannotWrite, formatted(HOSErrorMessage::kCannotCreateDir, dir)));
    fileHandle_ = std::fopen(file.c_str(), "wb");
    if (!fileHandle_) {
        const int err = errno;
        if (!fs::exists(file, ec))
            return HOSTask::taskWithError(HOSClientError(HOSClientErrorCodeFileCannotWrite,
                                                         formatted(HOSErrorMessage::kCannotCreateFile, file)));
        return HOSTask::taskWithError(HOSClientError(HOSClientErrorCodeFileCannotWrite, std::strerror(err)));
    }
    return nullptr;
}

HOSTaskPtr HOSHttpResponseParser::consumeHttpResponseBody(const platform::Bytes& chunk) {
    // Carried on over each chunk: the same value as combining per-chunk
    // checks, without the combine's matrix work on every chunk.
    if (crc64Verifiable_ && type_ == HOSOperationTypeGetObject)
        crc64ecma_ = aos_crc64(crc64ecma_, chunk.data(), chunk.size());
    if (onRecieveBlock_) {
        onRecieveBlock_(chunk);
        return HOSTask::taskWithResult(std::any());
    }
    if (downloadingFileURL_) {
        if (!fileHandle_)
            if (auto failed = openDownloadFile()) return failed;
        if (!chunk.empty() && std::fwrite(chunk.data(), 1, chunk.size(), fileHandle_) != chunk.size())
            return HOSTask::taskWithError(fileWriteError("write failed", errno));
        return HOSTask::taskWithResult(std::any());
    }
    const bool resultBody = type_ != HOSOperationTypeGetObject;
    if (resultBody && (collectingData_ ? collectingData_->size() : 0) + chunk.size() > kMaxResultBodyBytes) {
        const HOSOperation* operation = hosOperation(type_);
        return HOSTask::taskWithError(HOSClientError(
            HOSClientErrorCodeInvalidResponse, std::string("The ") + (operation ? operation->name : "storage") +
                                                   " reply is larger than " +
                                                   std::to_string(kMaxResultBodyBytes >> 20) + " MiB"));
    }
    if (!collectingData_) {
        collectingData_.emplace();
        // Room for the announced length up front: growing by doubling would
        // copy the body again and touch about twice its size in fresh pages.
        // Only address space is taken until bytes arrive (the transfer never
        // delivers more than Content-Length), and a length the process cannot
        // map just means growing as it goes. Capped, so a reply claiming an
        // absurd length cannot ask for more than a large object's worth.
        constexpr std::int64_t kMaxReservation = std::int64_t{1} << 30;
        const auto expected = std::min(response_ ? response_->expectedContentLength() : -1,
                                       resultBody ? static_cast<std::int64_t>(kMaxResultBodyBytes) : kMaxReservation);
        if (expected > 0) {
            try {
                collectingData_->reserve(static_cast<std::size_t>(std::min(expected, kMaxReservation)));
            } catch (const std::exception&) {
            }
            if (collectingData_->capacity() >= kFaultAheadFrom) {
                adviseHugePages(collectingData_->data(), collectingData_->capacity());
                faultAhead_ = std::make_unique<FaultAhead>(collectingData_->data(), collectingData_->capacity());
            }
        }
    }
    // Growing past the reservation moves the bytes: the helper stops first,
    // so it never touches the block being given back.
    if (faultAhead_ && collectingData_->size() + chunk.size() > collectingData_->capacity()) faultAhead_.reset();
    collectingData_->insert(collectingData_->end(), chunk.begin(), chunk.end());
    if (faultAhead_) faultAhead_->written(collectingData_->size());
    return HOSTask::taskWithResult(std::any());
}

void HOSHttpResponseParser::reset() {
    faultAhead_.reset();
    collectingData_.reset();
    closeFile();
    response_.reset();
    crc64ecma_ = 0;
    resultError_.reset();
}

void HOSHttpResponseParser::parseResponseHeader(const platform::HTTPURLResponse& response, HOSResult& result) const {
    result.setHttpResponseCode(response.statusCode());
    platform::Dictionary headers;
    for (const auto& [name, value] : response.allHeaderFields()) headers.set(name, value);
    result.setHttpResponseHeaderFields(std::move(headers));
    result.setRequestId(response.valueForHTTPHeaderField("x-hos-request-id"));
    result.setRemoteCRC64ecma(response.valueForHTTPHeaderField("x-hos-hash-crc64ecma"));
}

platform::Dictionary HOSHttpResponseParser::parseResponseHeaderToGetMeta(
    const platform::HTTPURLResponse& response) const {
    HOSResultSource source;
    source.response = &response;
    return source.objectMeta();
}

HOSResultPtr HOSHttpResponseParser::constructResultObject() {
    if (onRecieveBlock_) return nullptr;
    const HOSOperation* operation = hosOperation(type_);
    if (!operation) {
        HOS_LOG_ERROR("%s", "unknown operation type");
        return nullptr;
    }
    if (type_ == HOSOperationTypeGetObject) {
        if (response_) HOS_LOG_DEBUG("GetObjectResponse: %d", response_->statusCode());
        // The file is complete once the transfer ended; close it before the
        // caller reads it.
        if (downloadingFileURL_) {
            if (auto failed = finishDownloadFile()) {
                HOS_LOG_ERROR("download file: %s", failed->description().c_str());
                resultError_ = std::move(failed);
                return nullptr;
            }
        }
    }
    // The body is complete: the helper has nothing left to do, and the
    // result may take the bytes away.
    faultAhead_.reset();
    HOSResultSource source;
    source.response = response_.get();
    source.body = &collectingData_;
    source.crc64 = crc64ecma_;
    source.crc64Computed = crc64Verifiable_ && type_ == HOSOperationTypeGetObject;
    auto result = operation->makeResult(source);
    if (source.wrongShape) {
        HOS_LOG_ERROR("%s reply: %s", operation->name, source.wrongShape->c_str());
        resultError_ = HOSClientError(HOSClientErrorCodeInvalidResponse,
                                      std::string("The ") + operation->name + " reply has the wrong shape: " +
                                          *source.wrongShape);
        return nullptr;
    }
    if (response_) parseResponseHeader(*response_, *result);
    return result;
}

}  // namespace pellix
