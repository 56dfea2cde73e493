#include "platform/InputStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace pellix::platform {

namespace {

ErrorPtr posixError(int err, const std::string& path) {
    return Error::make("NSPOSIXErrorDomain", err,
                       Dictionary{{Error::kLocalizedDescriptionKey, Value(std::string(std::strerror(err)) + ": " + path)}});
}

class DataInputStream final : public InputStream {
public:
    explicit DataInputStream(std::shared_ptr<const Bytes> data) : data_(std::move(data)) {}
    void open() override {
        if (status_ == Status::NotOpen) status_ = data_->empty() ? Status::AtEnd : Status::Open;
    }
    void close() override { status_ = Status::Closed; }
    std::int64_t read(std::uint8_t* buffer, std::size_t maxLength) override {
        if (status_ != Status::Open && status_ != Status::AtEnd) {
            error_ = Error::make("NSPOSIXErrorDomain", EBADF);
            status_ = Status::Error;
            return -1;
        }
        std::size_t n = std::min(maxLength, data_->size() - offset_);
        if (n) std::memcpy(buffer, data_->data() + offset_, n);
        offset_ += n;
        if (offset_ == data_->size()) status_ = Status::AtEnd;
        return static_cast<std::int64_t>(n);
    }
    Status streamStatus() const override { return status_; }
    ErrorPtr streamError() const override { return error_; }
    std::int64_t knownLength() const override { return static_cast<std::int64_t>(data_->size()); }
    std::shared_ptr<InputStream> copy() const override { return std::make_shared<DataInputStream>(data_); }

private:
    std::shared_ptr<const Bytes> data_;
    std::size_t offset_ = 0;
    Status status_ = Status::NotOpen;
    ErrorPtr error_;
};

class FileInputStream final : public InputStream {
public:
    explicit FileInputStream(std::string path) : path_(std::move(path)) {}
    ~FileInputStream() override { close(); }
    void open() override {
        if (status_ != Status::NotOpen) return;
        fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) return fail(errno);
        status_ = Status::Open;
    }
    void close() override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        if (status_ != Status::Error) status_ = Status::Closed;
    }
    std::int64_t read(std::uint8_t* buffer, std::size_t maxLength) override {
        if (fd_ < 0) {
            if (!error_) fail(EBADF);
            return -1;
        }
        for (;;) {
            ssize_t n = ::read(fd_, buffer, maxLength);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                fail(errno);
                return -1;
            }
            if (n == 0) status_ = Status::AtEnd;
            return n;
        }
    }
    Status streamStatus() const override { return status_; }
    ErrorPtr streamError() const override { return error_; }
    std::int64_t knownLength() const override {
        struct stat st {};
        if (::stat(path_.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
        return st.st_size;
    }
    std::shared_ptr<InputStream> copy() const override { return std::make_shared<FileInputStream>(path_); }

private:
    void fail(int err) {
        error_ = posixError(err, path_);
        status_ = Status::Error;
    }
    std::string path_;
    int fd_ = -1;
    Status status_ = Status::NotOpen;
    ErrorPtr error_;
};

}  // namespace

std::shared_ptr<InputStream> InputStream::withData(Bytes data) {
    return std::make_shared<DataInputStream>(std::make_shared<const Bytes>(std::move(data)));
}

std::shared_ptr<InputStream> InputStream::withFile(std::string path) {
    return std::make_shared<FileInputStream>(std::move(path));
}

}  // namespace pellix::platform
