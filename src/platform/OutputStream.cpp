#include "platform/OutputStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pellix::platform {

namespace {

class MemoryOutputStream final : public OutputStream {
public:
    void open() override {
        if (status_ == Status::NotOpen) status_ = Status::Open;
    }
    void close() override { status_ = Status::Closed; }
    std::int64_t write(const std::uint8_t* buffer, std::size_t length) override {
        if (status_ != Status::Open) {
            error_ = Error::make("NSPOSIXErrorDomain", EBADF);
            return -1;
        }
        data_.insert(data_.end(), buffer, buffer + length);
        return static_cast<std::int64_t>(length);
    }
    Status streamStatus() const override { return status_; }
    ErrorPtr streamError() const override { return error_; }
    std::optional<Bytes> dataWritten() const override { return data_; }

private:
    Bytes data_;
    Status status_ = Status::NotOpen;
    ErrorPtr error_;
};

class FileOutputStream final : public OutputStream {
public:
    FileOutputStream(std::string path, bool append) : path_(std::move(path)), append_(append) {}
    ~FileOutputStream() override { close(); }
    void open() override {
        if (status_ != Status::NotOpen) return;
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (append_ ? O_APPEND : O_TRUNC), 0600);
        if (fd_ < 0) return fail(errno);
        status_ = Status::Open;
    }
    void close() override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        if (status_ != Status::Error) status_ = Status::Closed;
    }
    std::int64_t write(const std::uint8_t* buffer, std::size_t length) override {
        if (fd_ < 0) {
            if (!error_) fail(EBADF);
            return -1;
        }
        for (;;) {
            ssize_t n = ::write(fd_, buffer, length);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                fail(errno);
                return -1;
            }
            return n;
        }
    }
    Status streamStatus() const override { return status_; }
    ErrorPtr streamError() const override { return error_; }

private:
    void fail(int err) {
        error_ = Error::make("NSPOSIXErrorDomain", err,
                             Dictionary{{Error::kLocalizedDescriptionKey, Value(std::string(std::strerror(err)))}});
        status_ = Status::Error;
    }
    std::string path_;
    bool append_;
    int fd_ = -1;
    Status status_ = Status::NotOpen;
    ErrorPtr error_;
};

}  // namespace

std::shared_ptr<OutputStream> OutputStream::toMemory() { return std::make_shared<MemoryOutputStream>(); }

std::shared_ptr<OutputStream> OutputStream::toFile(std::string path, bool append) {
    return std::make_shared<FileOutputStream>(std::move(path), append);
}

}  // namespace pellix::platform
