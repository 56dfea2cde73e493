#include "platform/BinaryPropertyList.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

namespace pellix::platform {

namespace {

constexpr const char* kDomain = "NSCocoaErrorDomain";
constexpr std::int64_t kReadCorrupt = 3840;
constexpr std::int64_t kWriteInvalid = 3852;
// Seconds from 1970-01-01 to 2001-01-01, the format's date epoch.
constexpr double kEpochOffset = 978307200.0;

ErrorPtr makeError(std::int64_t code, const std::string& message) {
    return Error::make(kDomain, code, Dictionary{{"NSDebugDescription", Value(message)}});
}

// ---------------------------------------------------------------------------
// UTF-8 ⇄ UTF-16

bool utf8ToUTF16(std::string_view s, std::u16string& out) {
    std::size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        char32_t cp;
        std::size_t n;
        char32_t min;
        if (c < 0x80) {
            out += static_cast<char16_t>(c);
            ++i;
            continue;
        }
        if ((c & 0xE0) == 0xC0) n = 1, cp = c & 0x1F, min = 0x80;
        else if ((c & 0xF0) == 0xE0) n = 2, cp = c & 0x0F, min = 0x800;
        else if ((c & 0xF8) == 0xF0) n = 3, cp = c & 0x07, min = 0x10000;
        else return false;
        if (i + n >= s.size()) return false;
        for (std::size_t k = 1; k <= n; ++k) {
            auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += n + 1;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Reader

class Reader {
public:
    Reader(const Bytes& data, const BinaryPropertyList::Options& options) : d_(data), options_(options) {}

    std::optional<Value> run() {
        if (d_.size() < 8 + 32 || std::memcmp(d_.data(), "bplist00", 8) != 0) return fail("not a binary property list");
        const std::uint8_t* t = d_.data() + d_.size() - 32;
        offsetSize_ = t[6];
        refSize_ = t[7];
        std::uint64_t count = be(t + 8, 8), top = be(t + 16, 8), table = be(t + 24, 8);
        auto validSize = [](unsigned s) { return s == 1 || s == 2 || s == 4 || s == 8; };
        if (!validSize(offsetSize_) || !validSize(refSize_)) return fail("bad trailer sizes");
        std::uint64_t tableLimit = d_.size() - 32;
        if (count == 0 || top >= count || table < 9 || table > tableLimit) return fail("bad trailer");
        if (count > (tableLimit - table) / offsetSize_) return fail("offset table outside the file");
        if (refSize_ < 8 && count - 1 > (std::uint64_t(1) << (8 * refSize_)) - 1) return fail("too many objects");
        count_ = static_cast<std::size_t>(count);
        table_ = static_cast<std::size_t>(table);
        objectsEnd_ = table_;
        // Expanded output may exceed the input (shared references are
        // legal), but not without bound.
        // (Each object costs 16 units, each text or data byte one.)
        budget_ = (std::uint64_t(4) << 20) + std::uint64_t(d_.size()) * 16;
        onPath_.assign(count_, false);
        auto v = object(static_cast<std::size_t>(top), 0);
        if (!v) return std::nullopt;
        return v;
    }

    const std::string& message() const { return message_; }

private:
    std::nullopt_t fail(std::string m) {
        if (message_.empty()) message_ = std::move(m);
        return std::nullopt;
    }

    static std::uint64_t be(const std::uint8_t* p, unsigned n) {
        std::uint64_t v = 0;
        for (unsigned i = 0; i < n; ++i) v = (v << 8) | p[i];
        return v;
    }

    bool spend(std::uint64_t n) {
        if (n > budget_) return false;
        budget_ -= n;
        return true;
    }

    // Reads `n` bytes at `pos` (inside the object area) or fails.
    bool has(std::size_t pos, std::uint64_t n) const { return pos <= objectsEnd_ && n <= objectsEnd_ - pos; }

    // Length of a container or string: the low nibble, or a following integer.
    bool length(std::uint8_t marker, std::size_t& pos, std::uint64_t& len) {
        len = marker & 0x0F;
        if (len != 0x0F) return true;
        if (!has(pos, 1)) return false;
        std::uint8_t m = d_[pos++];
        if ((m & 0xF0) != 0x10 || (m & 0x0F) > 3) return false;
        unsigned n = 1u << (m & 0x0F);
        if (!has(pos, n)) return false;
        len = be(&d_[pos], n);
        pos += n;
        return true;
    }

    bool ref(std::size_t& pos, std::size_t& out) {
        if (!has(pos, refSize_)) return false;
        std::uint64_t r = be(&d_[pos], refSize_);
        pos += refSize_;
        if (r >= count_) return false;
        out = static_cast<std::size_t>(r);
        return true;
    }

    std::optional<Value> object(std::size_t index, std::size_t depth) {
        if (depth > options_.maxDepth) return fail("nested too deeply");
        if (onPath_[index]) return fail("reference cycle");
        if (!spend(16)) return fail("expands beyond the size limit");
        std::uint64_t off = be(&d_[table_ + index * offsetSize_], offsetSize_);
        if (off < 8 || off >= objectsEnd_) return fail("object offset outside the file");
        std::size_t pos = static_cast<std::size_t>(off);
        std::uint8_t marker = d_[pos++];
        std::uint8_t kind = marker >> 4;
        switch (kind) {
        case 0x0:
            if (marker == 0x00) return Value();
            if (marker == 0x08) return Value(false);
            if (marker == 0x09) return Value(true);
            return fail("unknown object");
        case 0x1: {
            unsigned exp = marker & 0x0F;
            if (exp > 4) return fail("bad integer size");
            unsigned n = 1u << exp;
            if (!has(pos, n)) return fail("integer outside the file");
            if (n <= 4) return Value(static_cast<std::int64_t>(be(&d_[pos], n)));
            if (n == 8) return Value(static_cast<std::int64_t>(be(&d_[pos], 8)));
            std::uint64_t high = be(&d_[pos], 8), low = be(&d_[pos + 8], 8);
            if (high == 0) return Value(static_cast<unsigned long long>(low));
            if (high == ~std::uint64_t(0) && (low >> 63)) return Value(static_cast<std::int64_t>(low));
            return fail("integer out of range");
        }
        case 0x2: {
            if (marker == 0x22 && has(pos, 4)) {
                std::uint32_t bits = static_cast<std::uint32_t>(be(&d_[pos], 4));
                float f;
                std::memcpy(&f, &bits, 4);
                return Value(static_cast<double>(f));
            }
            if (marker == 0x23 && has(pos, 8)) return Value(readDouble(pos));
            return fail("bad real");
        }
        case 0x3:
            if (marker == 0x33 && has(pos, 8)) return Value(readDouble(pos) + kEpochOffset);
            return fail("bad date");
        case 0x4:
        case 0x5:
        case 0x6:
        case 0x7: {
            std::uint64_t len;
            if (!length(marker, pos, len)) return fail("bad length");
            std::uint64_t bytes = kind == 0x6 ? len * 2 : len;
            if (kind == 0x6 && len > (std::uint64_t(1) << 62)) return fail("bad length");
            if (!has(pos, bytes) || !spend(bytes)) return fail("data outside the file");
            const char* p = reinterpret_cast<const char*>(&d_[pos]);
            std::size_t n = static_cast<std::size_t>(bytes);
            if (kind == 0x4) return Value(Bytes(d_.begin() + static_cast<std::ptrdiff_t>(pos), d_.begin() + static_cast<std::ptrdiff_t>(pos + n)));
            if (kind == 0x5) {
                for (std::size_t i = 0; i < n; ++i)
                    if (static_cast<unsigned char>(p[i]) >= 0x80) return fail("non-ASCII byte in ASCII string");
                return Value(std::string(p, n));
            }
            if (kind == 0x7) {
                std::string s(p, n);
                if (!isValidUTF8(s)) return fail("invalid UTF-8 string");
                return Value(std::move(s));
            }
            std::string s;
            s.reserve(n);
            for (std::size_t i = 0; i < n; i += 2) {
                char32_t u = static_cast<char32_t>(be(&d_[pos + i], 2));
                if (u >= 0xD800 && u <= 0xDBFF) {
                    if (i + 2 >= n) return fail("unpaired surrogate");
                    char32_t lo = static_cast<char32_t>(be(&d_[pos + i + 2], 2));
                    if (lo < 0xDC00 || lo > 0xDFFF) return fail("unpaired surrogate");
                    u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
                    i += 2;
                } else if (u >= 0xDC00 && u <= 0xDFFF) {
                    return fail("unpaired surrogate");
                }
                appendUTF8(s, u);
            }
            return Value(std::move(s));
        }
        case 0x8: {
            unsigned n = (marker & 0x0F) + 1u;
            if (n > 8 || !has(pos, n)) return fail("bad UID");
            return Value(Dictionary{{"CF$UID", Value(static_cast<unsigned long long>(be(&d_[pos], n)))}});
        }
        case 0xA:
        case 0xC:
        case 0xD: {
            std::uint64_t len;
            if (!length(marker, pos, len)) return fail("bad length");
            std::uint64_t refs = kind == 0xD ? len * 2 : len;
            if (len > count_ * 2 || !has(pos, refs * refSize_)) return fail("container outside the file");
            onPath_[index] = true;
            std::optional<Value> result;
            if (kind == 0xD) result = dictionary(pos, static_cast<std::size_t>(len), depth);
            else result = array(pos, static_cast<std::size_t>(len), depth);
            onPath_[index] = false;
            return result;
        }
        default: return fail("unknown object");
        }
    }

    double readDouble(std::size_t pos) const {
        std::uint64_t bits = be(&d_[pos], 8);
        double d;
        std::memcpy(&d, &bits, 8);
        return d;
    }

    std::optional<Value> array(std::size_t pos, std::size_t len, std::size_t depth) {
        Array a;
        a.reserve(len);
        for (std::size_t i = 0; i < len; ++i) {
            std::size_t r;
            if (!ref(pos, r)) return fail("bad reference");
            auto v = object(r, depth + 1);
            if (!v) return std::nullopt;
            a.push_back(std::move(*v));
        }
        return Value(std::move(a));
    }

    std::optional<Value> dictionary(std::size_t pos, std::size_t len, std::size_t depth) {
        std::size_t valuesPos = pos + len * refSize_;
        Dictionary d;
        // Key positions, so a large dictionary is built in linear time; a
        // repeated key keeps its first position and its last value.
        std::unordered_map<std::string, std::size_t> index;
        for (std::size_t i = 0; i < len; ++i) {
            std::size_t kr, vr;
            if (!ref(pos, kr) || !ref(valuesPos, vr)) return fail("bad reference");
            auto k = object(kr, depth + 1);
            if (!k) return std::nullopt;
            if (!k->isString()) return fail("dictionary key is not a string");
            auto v = object(vr, depth + 1);
            if (!v) return std::nullopt;
            auto [it, inserted] = index.emplace(k->asString(), d.size());
            if (inserted)
                d.append(k->asString(), std::move(*v));
            else
                (d.begin() + static_cast<std::ptrdiff_t>(it->second))->second = std::move(*v);
        }
        return Value(std::move(d));
    }

    const Bytes& d_;
    BinaryPropertyList::Options options_;
    unsigned offsetSize_ = 0, refSize_ = 0;
    std::size_t count_ = 0, table_ = 0, objectsEnd_ = 0;
    std::uint64_t budget_ = 0;
    std::vector<bool> onPath_;
    std::string message_;
};

// ---------------------------------------------------------------------------
// Writer

class Writer {
public:
    explicit Writer(const BinaryPropertyList::Options& options) : options_(options) {}

    std::optional<Bytes> run(const Value& root) {
        // Pass 1: count objects so the reference size is known up front.
        std::size_t count = 0;
        if (!countObjects(root, 0, count)) return std::nullopt;
        refSize_ = sizeFor(count - 1);
        out_.assign({'b', 'p', 'l', 'i', 's', 't', '0', '0'});
        offsets_.reserve(count);
        std::size_t next = 0;
        if (!emit(root, next)) return std::nullopt;
        std::uint64_t table = out_.size();
        unsigned offsetSize = sizeFor(table);
        for (std::uint64_t off : offsets_) put(off, offsetSize);
        for (int i = 0; i < 6; ++i) out_.push_back(0);
        out_.push_back(static_cast<std::uint8_t>(offsetSize));
        out_.push_back(static_cast<std::uint8_t>(refSize_));
        put(offsets_.size(), 8);
        put(0, 8);
        put(table, 8);
        return std::move(out_);
    }

    const std::string& message() const { return message_; }

private:
    bool fail(std::string m) {
        message_ = std::move(m);
        return false;
    }

    static unsigned sizeFor(std::uint64_t v) {
        if (v <= 0xFF) return 1;
        if (v <= 0xFFFF) return 2;
        if (v <= 0xFFFFFFFFu) return 4;
        return 8;
    }

    void put(std::uint64_t v, unsigned n) {
        for (unsigned i = n; i-- > 0;) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }

    bool countObjects(const Value& v, std::size_t depth, std::size_t& count) {
        if (depth > options_.maxDepth) return fail("nested too deeply");
        ++count;
        switch (v.type()) {
        case Value::Type::Null:
            if (!options_.allowNull) return fail("null has no property-list form");
            return true;
        case Value::Type::Double:
            if (!std::isfinite(v.asDouble())) return fail("non-finite number");
            return true;
        case Value::Type::String:
            if (!isValidUTF8(v.asString())) return fail("text is not UTF-8");
            return true;
        case Value::Type::Array:
            for (const auto& e : v.asArray())
                if (!countObjects(e, depth + 1, count)) return false;
            return true;
        case Value::Type::Dictionary:
            for (const auto& [k, e] : v.asDictionary()) {
                if (!isValidUTF8(k)) return fail("key is not UTF-8");
                ++count;
                if (!countObjects(e, depth + 1, count)) return false;
            }
            return true;
        default: return true;
        }
    }

    void header(std::uint8_t kind, std::uint64_t len) {
        if (len < 15) {
            out_.push_back(static_cast<std::uint8_t>(kind | len));
            return;
        }
        out_.push_back(static_cast<std::uint8_t>(kind | 0x0F));
        unsigned n = sizeFor(len);
        out_.push_back(static_cast<std::uint8_t>(0x10 | (n == 1 ? 0 : n == 2 ? 1 : n == 4 ? 2 : 3)));
        put(len, n);
    }

    void string(const std::string& s) {
        bool ascii = true;
        for (char c : s) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        if (ascii) {
            header(0x50, s.size());
            out_.insert(out_.end(), s.begin(), s.end());
            return;
        }
        std::u16string u;
        utf8ToUTF16(s, u);  // validated in pass 1
        header(0x60, u.size());
        for (char16_t c : u) put(c, 2);
    }

    // Writes the object numbered `self` (objects are numbered depth-first in
    // the order emit visits them) and, after it, its children.
    bool emit(const Value& v, std::size_t& next) {
        ++next;
        offsets_.push_back(out_.size());
        switch (v.type()) {
        case Value::Type::Null: out_.push_back(0x00); return true;
        case Value::Type::Bool: out_.push_back(v.asBool() ? 0x09 : 0x08); return true;
        case Value::Type::Int: {
            std::int64_t i = v.asInt();
            if (i >= 0 && i <= 0xFF) out_.push_back(0x10), put(static_cast<std::uint64_t>(i), 1);
            else if (i >= 0 && i <= 0xFFFF) out_.push_back(0x11), put(static_cast<std::uint64_t>(i), 2);
            else if (i >= 0 && i <= 0xFFFFFFFFLL) out_.push_back(0x12), put(static_cast<std::uint64_t>(i), 4);
            else out_.push_back(0x13), put(static_cast<std::uint64_t>(i), 8);
            return true;
        }
        case Value::Type::UInt:
            // Above INT64_MAX: sixteen bytes, high half zero, so no reader
            // takes it for a negative number.
            out_.push_back(0x14);
            put(0, 8);
            put(v.asUInt(), 8);
            return true;
        case Value::Type::Double: {
            std::uint64_t bits;
            double d = v.asDouble();
            std::memcpy(&bits, &d, 8);
            out_.push_back(0x23);
            put(bits, 8);
            return true;
        }
        case Value::Type::String: string(v.asString()); return true;
        case Value::Type::Bytes: {
            const Bytes& b = v.asBytes();
            header(0x40, b.size());
            out_.insert(out_.end(), b.begin(), b.end());
            return true;
        }
        case Value::Type::Array: {
            const Array& a = v.asArray();
            header(0xA0, a.size());
            std::size_t refsAt = out_.size();
            out_.resize(out_.size() + a.size() * refSize_);
            for (std::size_t i = 0; i < a.size(); ++i) {
                patchRef(refsAt + i * refSize_, next);
                if (!emit(a[i], next)) return false;
            }
            return true;
        }
        case Value::Type::Dictionary: {
            const Dictionary& d = v.asDictionary();
            header(0xD0, d.size());
            std::size_t keysAt = out_.size(), valuesAt = keysAt + d.size() * refSize_;
            out_.resize(out_.size() + 2 * d.size() * refSize_);
            std::size_t i = 0;
            for (const auto& [k, e] : d) {
                patchRef(keysAt + i * refSize_, next);
                emit(Value(k), next);
                patchRef(valuesAt + i * refSize_, next);
                if (!emit(e, next)) return false;
                ++i;
            }
            return true;
        }
        }
        return fail("unknown value");
    }

    void patchRef(std::size_t at, std::uint64_t ref) {
        for (unsigned i = 0; i < refSize_; ++i)
            out_[at + i] = static_cast<std::uint8_t>(ref >> (8 * (refSize_ - 1 - i)));
    }

    BinaryPropertyList::Options options_;
    unsigned refSize_ = 1;
    Bytes out_;
    std::vector<std::uint64_t> offsets_;
    std::string message_;
};

}  // namespace

std::optional<Value> BinaryPropertyList::read(const Bytes& data, ErrorPtr* error, const Options& options) {
    Reader reader(data, options);
    auto v = reader.run();
    if (!v && error) *error = makeError(kReadCorrupt, "Corrupt binary property list: " + reader.message());
    return v;
}

std::optional<Bytes> BinaryPropertyList::write(const Value& value, ErrorPtr* error, const Options& options) {
    Writer writer(options);
    auto b = writer.run(value);
    if (!b && error) *error = makeError(kWriteInvalid, "Cannot write property list: " + writer.message());
    return b;
}

}  // namespace pellix::platform
