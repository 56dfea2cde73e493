#include "platform/Value.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace pellix::platform {

// ---------------------------------------------------------------------------
// Dictionary

Dictionary::Dictionary(std::initializer_list<Entry> entries) {
    entries_.reserve(entries.size());
    for (const auto& e : entries) set(e.first, e.second);
}

namespace {

// The first byte is compared before memcmp is called: the keys of one
// dictionary mostly differ there, and many share a length.
inline bool sameKey(const std::string& a, std::string_view b) {
    return a.size() == b.size() && (b.empty() || (a[0] == b[0] && std::memcmp(a.data(), b.data(), b.size()) == 0));
}

}  // namespace

const Value* Dictionary::find(std::string_view key) const {
    for (const auto& e : entries_)
        if (sameKey(e.first, key)) return &e.second;
    return nullptr;
}

Value* Dictionary::find(std::string_view key) {
    for (auto& e : entries_)
        if (sameKey(e.first, key)) return &e.second;
    return nullptr;
}

void Dictionary::set(std::string key, Value value) {
    if (Value* v = find(key)) {
        *v = std::move(value);
        return;
    }
    entries_.emplace_back(std::move(key), std::move(value));
}

void Dictionary::append(std::string key, Value value) { entries_.emplace_back(std::move(key), std::move(value)); }

Value& Dictionary::operator[](std::string_view key) {
    if (Value* v = find(key)) return *v;
    entries_.emplace_back(std::string(key), Value());
    return entries_.back().second;
}

bool Dictionary::erase(std::string_view key) {
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.first == key; });
    if (it == entries_.end()) return false;
    entries_.erase(it);
    return true;
}

std::vector<std::string> Dictionary::keys() const {
    std::vector<std::string> out;
    out.reserve(entries_.size());
    for (const auto& e : entries_) out.push_back(e.first);
    return out;
}

bool operator==(const Dictionary& a, const Dictionary& b) {
    if (a.size() != b.size()) return false;
    for (const auto& e : a) {
        const Value* other = b.find(e.first);
        if (!other || !(*other == e.second)) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Value

Value::Value(unsigned long u) {
    if (u > static_cast<unsigned long>(std::numeric_limits<std::int64_t>::max()))
        v_ = static_cast<std::uint64_t>(u);
    else
        v_ = static_cast<std::int64_t>(u);
}

Value::Value(const Value& o) = default;

Value::Value(Value&&) noexcept = default;
// `o` may live inside this value (a member of its array or dictionary): it
// is taken out before the old contents go, which would destroy it.
Value& Value::operator=(Value&& o) noexcept {
    if (this != &o) {
        Value taken(std::move(o));
        v_ = std::move(taken.v_);
    }
    return *this;
}

Value& Value::operator=(const Value& o) {
    if (this != &o) {
        Value copy(o);
        *this = std::move(copy);
    }
    return *this;
}

bool Value::isNumber() const {
    auto t = type();
    return t == Type::Bool || t == Type::Int || t == Type::UInt || t == Type::Double;
}

const Value* Value::get(std::string_view key) const {
    const platform::Dictionary* d = dictionaryIf();
    return d ? d->find(key) : nullptr;
}

const Value* Value::at(std::size_t index) const {
    const platform::Array* a = arrayIf();
    return (a && index < a->size()) ? &(*a)[index] : nullptr;
}

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// Leading decimal integer of a text, saturating like the platform's
// integerValue: "  -12abc" → -12, "abc" → 0.
std::int64_t scanInt(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && isSpace(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    std::uint64_t magnitude = 0;
    bool overflow = false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        unsigned digit = static_cast<unsigned>(s[i] - '0');
        if (magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
            overflow = true;
            break;
        }
        magnitude = magnitude * 10 + digit;
    }
    const std::uint64_t maxPos = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (negative) {
        if (overflow || magnitude > maxPos + 1) return std::numeric_limits<std::int64_t>::min();
        return magnitude == maxPos + 1 ? std::numeric_limits<std::int64_t>::min()
                                        : -static_cast<std::int64_t>(magnitude);
    }
    if (overflow || magnitude > maxPos) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(magnitude);
}

// Leading decimal floating-point number of a text ("1.5e3x" → 1500); no hex,
// no "inf"/"nan" words, as the platform's doubleValue reads text.
double scanDouble(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && isSpace(s[i])) ++i;
    std::size_t start = i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return 0.0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        if (j < s.size() && s[j] >= '0' && s[j] <= '9') {
            while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j;
            i = j;
        }
    }
    std::string text(s.substr(start, i - start));
    return std::strtod(text.c_str(), nullptr);
}

std::int64_t doubleToInt(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    if (d < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(d);
}

}  // namespace

std::int64_t Value::intValue() const {
    switch (type()) {
    case Type::Bool: return asBool() ? 1 : 0;
    case Type::Int: return asInt();
    case Type::UInt: return static_cast<std::int64_t>(asUInt());
    case Type::Double: return doubleToInt(asDouble());
    case Type::String: return scanInt(asString());
    default: return 0;
    }
}

std::uint64_t Value::uintValue() const {
    switch (type()) {
    case Type::UInt: return asUInt();
    case Type::Double: {
        double d = asDouble();
        if (std::isnan(d)) return 0;
        if (d >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
        if (d >= 0) return static_cast<std::uint64_t>(d);
        return static_cast<std::uint64_t>(doubleToInt(d));
    }
    default: return static_cast<std::uint64_t>(intValue());
    }
}

double Value::doubleValue() const {
    switch (type()) {
    case Type::Bool: return asBool() ? 1.0 : 0.0;
    case Type::Int: return static_cast<double>(asInt());
    case Type::UInt: return static_cast<double>(asUInt());
    case Type::Double: return asDouble();
    case Type::String: return scanDouble(asString());
    default: return 0.0;
    }
}

bool Value::boolValue() const {
    switch (type()) {
    case Type::Bool: return asBool();
    case Type::Int: return asInt() != 0;
    case Type::UInt: return asUInt() != 0;
    case Type::Double: return asDouble() != 0.0;
    case Type::String: {
        // The platform's reading: "Y", "y", "T", "t" or a non-zero digit after
        // optional blanks, sign and leading zeros.
        const std::string& s = asString();
        std::size_t i = 0;
        while (i < s.size() && isSpace(s[i])) ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        while (i < s.size() && s[i] == '0') ++i;
        if (i >= s.size()) return false;
        char c = s[i];
        return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
    }
    default: return false;
    }
}

bool operator==(const Value& a, const Value& b) {
    if (a.type() != b.type()) return false;
    switch (a.type()) {
    case Value::Type::Null: return true;
    case Value::Type::Bool: return a.asBool() == b.asBool();
    case Value::Type::Int: return a.asInt() == b.asInt();
    case Value::Type::UInt: return a.asUInt() == b.asUInt();
    case Value::Type::Double: return a.asDouble() == b.asDouble();
    case Value::Type::String: return a.asString() == b.asString();
    case Value::Type::Bytes: return a.asBytes() == b.asBytes();
    case Value::Type::Array: return a.asArray() == b.asArray();
    case Value::Type::Dictionary: return a.asDictionary() == b.asDictionary();
    }
    return false;
}

// ---------------------------------------------------------------------------
// Text forms

std::string formatDouble(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
    if (d == 0) return std::signbit(d) ? "-0" : "0";

    // Shortest round-trip digits, then laid out the way "%.16g" lays them out
    // (exponent form below 1e-4 and from 1e16 on), which is how the platform
    // prints a double.
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
    std::string sci(buf, res.ptr);
    std::string out;
    std::size_t pos = 0;
    if (sci[0] == '-') {
        out += '-';
        pos = 1;
    }
    std::size_t ePos = sci.find('e');
    std::string digits;
    for (std::size_t i = pos; i < ePos; ++i)
        if (sci[i] != '.') digits += sci[i];
    int exp = std::atoi(sci.c_str() + ePos + 1);
    int limit = digits.size() > 16 ? 17 : 16;
    if (exp < -4 || exp >= limit) {
        out += digits[0];
        if (digits.size() > 1) {
            out += '.';
            out.append(digits, 1, std::string::npos);
        }
        char e[16];
        std::snprintf(e, sizeof e, "e%c%02d", exp < 0 ? '-' : '+', std::abs(exp));
        out += e;
    } else if (exp < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-exp - 1), '0');
        out += digits;
    } else {
        std::size_t intDigits = static_cast<std::size_t>(exp) + 1;
        if (digits.size() <= intDigits) {
            out += digits;
            out.append(intDigits - digits.size(), '0');
        } else {
            out.append(digits, 0, intDigits);
            out += '.';
            out.append(digits, intDigits, std::string::npos);
        }
    }
    return out;
}

namespace {

std::string indent(int level) { return std::string(static_cast<std::size_t>(level) * 4, ' '); }

std::string bytesDescription(const Bytes& b) {
    static const char hex[] = "0123456789abcdef";
    std::string out = "<";
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (i > 0 && i % 4 == 0) out += ' ';
        out += hex[b[i] >> 4];
        out += hex[b[i] & 0xf];
    }
    out += '>';
    return out;
}

// Decodes one UTF-8 sequence at s[i]; on invalid input returns false and
// leaves the caller to treat the byte on its own.
bool decodeUTF8(std::string_view s, std::size_t& i, char32_t& cp) {
    auto c0 = static_cast<unsigned char>(s[i]);
    if (c0 < 0x80) {
        cp = c0;
        ++i;
        return true;
    }
    int n;
    char32_t min;
    if ((c0 & 0xE0) == 0xC0) n = 1, cp = c0 & 0x1F, min = 0x80;
    else if ((c0 & 0xF0) == 0xE0) n = 2, cp = c0 & 0x0F, min = 0x800;
    else if ((c0 & 0xF8) == 0xF0) n = 3, cp = c0 & 0x07, min = 0x10000;
    else return false;
    if (i + static_cast<std::size_t>(n) >= s.size()) return false;
    for (int k = 1; k <= n; ++k) {
        auto c = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
        if ((c & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += static_cast<std::size_t>(n) + 1;
    return true;
}

bool isPlainChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
           c == '/' || c == ':' || c == '.' || c == '-';
}

// A text inside a collection's description: bare when it is a plain word,
// otherwise quoted with escapes and non-ASCII characters as \Uxxxx.
std::string quotedIfNeeded(const std::string& s) {
    bool plain = !s.empty() && std::all_of(s.begin(), s.end(), isPlainChar);
    if (plain) return s;
    std::string out = "\"";
    std::size_t i = 0;
    while (i < s.size()) {
        char c = s[i];
        if (static_cast<unsigned char>(c) < 0x80) {
            switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default: out += c; break;
            }
            ++i;
            continue;
        }
        char32_t cp;
        if (!decodeUTF8(s, i, cp)) {
            cp = 0xFFFD;
            ++i;
        }
        auto unit = [&](unsigned u) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\U%04x", u);
            out += buf;
        };
        if (cp >= 0x10000) {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            unit(static_cast<unsigned>(cp));
        }
    }
    out += '"';
    return out;
}

std::string describe(const Value& v, int level, bool nested) {
    switch (v.type()) {
    case Value::Type::Array: {
        std::string out = indent(level) + "(\n";
        const auto& a = v.asArray();
        for (std::size_t i = 0; i < a.size(); ++i) {
            out += indent(level + 1) + describe(a[i], level + 1, true);
            out += (i + 1 < a.size()) ? ",\n" : "\n";
        }
        return out + indent(level) + ")";
    }
    case Value::Type::Dictionary: {
        std::string out = indent(level) + "{\n";
        for (const auto& [key, value] : v.asDictionary())
            out += indent(level + 1) + quotedIfNeeded(key) + " = " + describe(value, level + 1, true) + ";\n";
        return out + indent(level) + "}";
    }
    case Value::Type::String: return nested ? quotedIfNeeded(v.asString()) : v.asString();
    default: return v.description();
    }
}

}  // namespace

std::string Value::description() const {
    switch (type()) {
    case Type::Null: return "<null>";
    case Type::Bool: return asBool() ? "1" : "0";
    case Type::Int: return std::to_string(asInt());
    case Type::UInt: return std::to_string(asUInt());
    case Type::Double: return formatDouble(asDouble());
    case Type::String: return asString();
    case Type::Bytes: return bytesDescription(asBytes());
    case Type::Array:
    case Type::Dictionary: return describe(*this, 0, false);
    }
    return {};
}

// ---------------------------------------------------------------------------
// UTF-16 helpers

namespace {

// Calls sink(unit) for every UTF-16 code unit of a UTF-8 text; an invalid
// byte becomes one U+FFFD unit.
template <typename Sink>
void forEachUTF16(std::string_view s, Sink&& sink) {
    std::size_t i = 0;
    while (i < s.size()) {
        char32_t cp;
        if (!decodeUTF8(s, i, cp)) {
            cp = 0xFFFD;
            ++i;
        }
        if (cp >= 0x10000) {
            if (!sink(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)))) return;
            if (!sink(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)))) return;
        } else if (!sink(static_cast<char16_t>(cp))) {
            return;
        }
    }
}

std::u16string toUTF16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    forEachUTF16(s, [&](char16_t u) {
        out += u;
        return true;
    });
    return out;
}

}  // namespace

int compareUTF16(std::string_view a, std::string_view b) {
    std::u16string ua = toUTF16(a), ub = toUTF16(b);
    int c = ua.compare(ub);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

void appendUTF8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool isValidUTF8(std::string_view s) {
    std::size_t i = 0;
    char32_t cp;
    const std::size_t n = s.size();
    while (i < n) {
        // Runs of ASCII, most of any text this checks (whole answers of
        // megabytes among them), eight bytes at a time.
        for (std::uint64_t w; i + 8 <= n; i += 8) {
            std::memcpy(&w, s.data() + i, 8);
            if (w & 0x8080808080808080ull) break;
        }
        while (i < n && static_cast<unsigned char>(s[i]) < 0x80) ++i;
        if (i < n && !decodeUTF8(s, i, cp)) return false;
    }
    return true;
}

std::size_t utf16Length(std::string_view s) {
    std::size_t n = 0;
    forEachUTF16(s, [&](char16_t) {
        ++n;
        return true;
    });
    return n;
}

}  // namespace pellix::platform
