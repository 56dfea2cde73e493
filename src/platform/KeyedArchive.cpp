#include "platform/KeyedArchive.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/BinaryPropertyList.h"

namespace pellix::platform {

namespace {

constexpr const char* kDomain = "NSCocoaErrorDomain";
constexpr std::int64_t kFileWriteUnknownError = 512;
constexpr std::int64_t kFileWriteNoPermissionError = 513;
constexpr std::int64_t kFileWriteOutOfSpaceError = 640;

ErrorPtr fileError(const std::string& what, const std::filesystem::path& path, int err) {
    std::int64_t code = kFileWriteUnknownError;
    if (err == EACCES || err == EPERM || err == EROFS) code = kFileWriteNoPermissionError;
    if (err == ENOSPC || err == EDQUOT) code = kFileWriteOutOfSpaceError;
    return Error::make(kDomain, code,
                       Dictionary{{Error::kLocalizedFailureReasonErrorKey, Value(what + ": " + std::strerror(err))},
                                  {"NSFilePath", Value(path.string())}});
}

bool writeAll(int fd, const Bytes& data) {
    const std::uint8_t* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool KeyedArchive::write(const std::filesystem::path& path, const Dictionary& root, ErrorPtr* error) {
    BinaryPropertyList::Options options;
    options.allowNull = true;
    auto data = BinaryPropertyList::write(Value(root), error, options);
    if (!data) return false;
    return writeFileAtomically(path, *data, error);
}

bool KeyedArchive::writeFileAtomically(const std::filesystem::path& path, const Bytes& data, ErrorPtr* error) {
    std::filesystem::path dir = path.parent_path();
    if (dir.empty()) dir = ".";
    // Same folder as the target, so the rename cannot cross file systems.
    std::string tmpl = (dir / ("." + path.filename().string() + ".XXXXXX")).string();
    int fd = ::mkstemp(tmpl.data());  // created with mode 0600
    if (fd < 0) {
        if (error) *error = fileError("cannot create temporary file", path, errno);
        return false;
    }
    auto abandon = [&](const char* what) {
        int err = errno;
        ::close(fd);
        ::unlink(tmpl.c_str());
        if (error) *error = fileError(what, path, err);
        return false;
    };
    if (::fchmod(fd, 0600) != 0) return abandon("cannot set file mode");
    if (!writeAll(fd, data)) return abandon("cannot write");
    if (::fsync(fd) != 0) return abandon("cannot flush");
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(tmpl.c_str());
        if (error) *error = fileError("cannot close", path, err);
        return false;
    }
    if (::rename(tmpl.c_str(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(tmpl.c_str());
        if (error) *error = fileError("cannot replace", path, err);
        return false;
    }
    // Make the rename itself durable.
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

std::optional<Bytes> KeyedArchive::readFileBounded(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uintmax_t>(st.st_size) > kMaxFileSize)
        return std::nullopt;
    Bytes data(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < data.size()) {
        ssize_t n = ::read(fd, data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // shrank under us: judge what is there
        got += static_cast<std::size_t>(n);
    }
    data.resize(got);
    return data;
}

std::optional<Dictionary> KeyedArchive::read(const std::filesystem::path& path) {
    try {
        auto data = readFileBounded(path);
        if (!data || data->empty()) return std::nullopt;
        BinaryPropertyList::Options options;
        options.allowNull = true;
        auto v = BinaryPropertyList::read(*data, nullptr, options);
        if (!v || !v->isDictionary()) return std::nullopt;
        return std::move(v->asDictionary());
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

bool KeyedArchive::remove(const std::filesystem::path& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

}  // namespace pellix::platform
