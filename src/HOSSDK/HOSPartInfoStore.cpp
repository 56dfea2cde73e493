#include "HOSSDK/HOSPartInfoStore.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "HOSSDK/HOSUtil.h"
#include "platform/KeyedArchive.h"
#include "platform/PropertyList.h"

namespace pellix {

namespace {

// Larger files than the archive's bound are not read: no upload has that
// many parts.
std::optional<platform::Bytes> readWhole(const std::string& path) { return platform::KeyedArchive::readFileBounded(path); }

template <class T>
bool parseNumber(std::string_view text, T& out) {
    if (text.empty()) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

std::optional<std::int32_t> partNumberOf(std::string_view key) {
    std::int32_t n = 0;
    if (!parseNumber(key, n) || n <= 0) return std::nullopt;
    return n;
}

std::uint64_t checkOf(std::string_view body) { return HOSUtil::crc64ecma(0, body.data(), body.size()); }

std::string hexOf(std::string_view text) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() * 2);
    for (unsigned char c : text) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

std::optional<std::string> unhex(std::string_view hex) {
    if (hex.size() % 2) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned v = 0;
        auto [end, ec] = std::from_chars(hex.data() + i, hex.data() + i + 2, v, 16);
        if (ec != std::errc() || end != hex.data() + i + 2) return std::nullopt;
        out.push_back(static_cast<char>(v));
    }
    return out;
}

// One journal line without its line feed: the part, or nothing when the line
// is damaged (cut short, altered).
std::optional<HOSPartInfo> parseLine(std::string_view line) {
    const auto lastSpace = line.rfind(' ');
    if (lastSpace == std::string_view::npos) return std::nullopt;
    const std::string_view body = line.substr(0, lastSpace);
    std::uint64_t check = 0;
    if (!parseNumber(line.substr(lastSpace + 1), check) || check != checkOf(body)) return std::nullopt;
    std::string_view fields[4];
    std::size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const auto space = body.find(' ', start);
        if ((i < 3) == (space == std::string_view::npos)) return std::nullopt;
        fields[i] = body.substr(start, i < 3 ? space - start : std::string_view::npos);
        start = space + 1;
    }
    HOSPartInfo part;
    std::int32_t number = 0;
    std::int64_t size = 0;
    std::uint64_t crc = 0;
    if (!parseNumber(fields[0], number) || number <= 0 || !parseNumber(fields[1], size) || size < 0 ||
        !parseNumber(fields[2], crc))
        return std::nullopt;
    part.setPartNum(number);
    part.setSize(size);
    part.setCrc64(crc);
    if (fields[3] != "-") {
        if (fields[3].empty() || fields[3][0] != 'e') return std::nullopt;
        auto eTag = unhex(fields[3].substr(1));
        if (!eTag) return std::nullopt;
        part.setETag(std::move(*eTag));
    }
    return part;
}

platform::ErrorPtr notStored(const std::string& why) {
    HOS_LOG_DEBUG("[Error]: %s (%s)", HOSErrorMessage::kUploadIdNotStored, why.c_str());
    return HOSClientError(HOSClientErrorCodeFileCannotWrite, HOSErrorMessage::kUploadIdNotStored);
}

}  // namespace

HOSPartInfoStore::HOSPartInfoStore(std::string path) : path_(std::move(path)), journalPath_(journalPathFor(path_)) {}

HOSPartInfoStore::~HOSPartInfoStore() {
    if (journalFd_ >= 0) ::close(journalFd_);
}

platform::Dictionary HOSPartInfoStore::entryOf(const HOSPartInfo& part) {
    auto entry = part.entityToDictionary();
    // XML integers are signed: keep the CRC's 64 bits in the signed form.
    entry.set("crc64", platform::Value(static_cast<long long>(part.crc64())));
    return entry;
}

std::optional<std::uint64_t> HOSPartInfoStore::crc64Of(const platform::Value& entry) {
    const auto* crc = entry.get("crc64");
    if (!crc) return std::nullopt;
    if (crc->isInt()) return static_cast<std::uint64_t>(crc->asInt());
    if (crc->isUInt()) return crc->asUInt();
    std::uint64_t value = 0;
    if (const auto* text = crc->stringIf(); text && parseNumber(std::string_view(*text), value)) return value;
    return std::nullopt;
}

std::string HOSPartInfoStore::journalLine(const HOSPartInfo& part) {
    std::string body = std::to_string(part.partNum()) + " " + std::to_string(part.size()) + " " +
                       std::to_string(part.crc64()) + " " + (part.eTag() ? "e" + hexOf(*part.eTag()) : "-");
    return body + " " + std::to_string(checkOf(body)) + "\n";
}

std::optional<std::uint64_t> HOSPartInfoStore::crc64Of(std::int32_t partNum) const {
    auto it = parts_.find(partNum);
    if (it == parts_.end()) return std::nullopt;
    return crc64Of(it->second);
}

platform::Dictionary HOSPartInfoStore::dictionary() const {
    platform::Dictionary out;
    for (const auto& [number, entry] : parts_) out.append(std::to_string(number), entry);
    return out;
}

void HOSPartInfoStore::readJournal() {
    auto data = readWhole(journalPath_);
    if (!data || data->empty()) return;
    journalPending_ = true;
    std::string_view text(reinterpret_cast<const char*>(data->data()), data->size());
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        if (end == std::string_view::npos) break;  // cut short: not a whole record
        if (auto part = parseLine(text.substr(start, end - start))) parts_[part->partNum()] = entryOf(*part);
        start = end + 1;
    }
}

bool HOSPartInfoStore::open() {
    parts_.clear();
    if (auto data = readWhole(path_); data && !data->empty()) {
        if (auto root = platform::PropertyList::read(*data); root && root->isDictionary()) {
            for (const auto& [key, entry] : root->asDictionary()) {
                auto number = partNumberOf(key);
                if (number && entry.isDictionary()) parts_[*number] = entry;
            }
        } else {
            HOS_LOG_ERROR("unreadable part information file %s", path_.c_str());
        }
    }
    readJournal();
    if (journalPending_)
        if (auto error = close()) HOS_LOG_ERROR("[Error]: %s", error->description().c_str());
    return !parts_.empty();
}

platform::ErrorPtr HOSPartInfoStore::record(const HOSPartInfo& part) {
    parts_[part.partNum()] = entryOf(part);
    if (journalFd_ < 0) {
        journalFd_ = ::open(journalPath_.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (journalFd_ < 0) return notStored(std::strerror(errno));
        // A line cut short by a crash must not swallow the next one.
        struct stat st {};
        if (::fstat(journalFd_, &st) == 0 && st.st_size > 0) {
            char last = 0;
            if (::pread(journalFd_, &last, 1, st.st_size - 1) == 1 && last != '\n' && ::write(journalFd_, "\n", 1) != 1)
                return notStored(std::strerror(errno));
        }
    }
    // One write per line: a crash leaves the line whole or cut short, and a
    // cut line fails its check.
    const std::string line = journalLine(part);
    std::size_t done = 0;
    while (done < line.size()) {
        ssize_t n = ::write(journalFd_, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return notStored(std::strerror(errno));
        done += static_cast<std::size_t>(n);
    }
    journalPending_ = true;
    return nullptr;
}

platform::ErrorPtr HOSPartInfoStore::writeSnapshot() {
    platform::ErrorPtr error;
    auto bytes = platform::PropertyList::write(platform::Value(dictionary()), platform::PropertyList::Format::XML, &error);
    if (!bytes) return notStored(error ? error->description() : "no property list");
    if (!platform::KeyedArchive::writeFileAtomically(path_, *bytes, &error))
        return notStored(error ? error->description() : "cannot write");
    return nullptr;
}

platform::ErrorPtr HOSPartInfoStore::close() {
    if (!journalPending_) return nullptr;
    if (auto error = writeSnapshot()) return error;
    // Only now that the snapshot holds every line may the journal go.
    if (journalFd_ >= 0) {
        ::close(journalFd_);
        journalFd_ = -1;
    }
    if (::unlink(journalPath_.c_str()) != 0 && errno != ENOENT) return notStored(std::strerror(errno));
    journalPending_ = false;
    return nullptr;
}

void HOSPartInfoStore::remove(const std::string& path) {
    for (const auto& p : {path, journalPathFor(path)}) {
        std::error_code ec;
        if (std::filesystem::exists(p, ec) && !std::filesystem::remove(p, ec) && ec)
            HOS_LOG_ERROR("delete localPartInfosPath failed!Error: %s", ec.message().c_str());
    }
}

}  // namespace pellix
