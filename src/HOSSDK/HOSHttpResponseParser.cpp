#include "HOSSDK/HOSHttpResponseParser.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

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
}  // namespace

HOSHttpResponseParser::HOSHttpResponseParser(std::int64_t operationType) : type_(operationType) {}

HOSHttpResponseParser::~HOSHttpResponseParser() { closeFile(); }

void HOSHttpResponseParser::closeFile() {
    if (fileHandle_) std::fclose(fileHandle_);
    fileHandle_ = nullptr;
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
            return HOSTask::taskWithError(HOSServerMessageError(HOSClientErrorCodeFileCannotWrite,
                                                                std::string("write failed: ") + std::strerror(errno)));
        return HOSTask::taskWithResult(std::any());
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
        const auto expected = response_ ? response_->expectedContentLength() : -1;
        if (expected > 0) {
            try {
                collectingData_->reserve(static_cast<std::size_t>(std::min(expected, kMaxReservation)));
            } catch (const std::exception&) {
            }
        }
    }
    collectingData_->insert(collectingData_->end(), chunk.begin(), chunk.end());
    return HOSTask::taskWithResult(std::any());
}

void HOSHttpResponseParser::reset() {
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
        if (fileHandle_ && std::fflush(fileHandle_) != 0) HOS_LOG_ERROR("%s", "flushing the download file failed");
        closeFile();
    }
    HOSResultSource source;
    source.response = response_.get();
    source.body = &collectingData_;
    source.crc64 = crc64ecma_;
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
