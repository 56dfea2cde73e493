#include "platform/JSON.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

namespace pellix::platform {

namespace {

constexpr const char* kDomain = "NSCocoaErrorDomain";
constexpr const char* kDebugDescriptionKey = "NSDebugDescription";

ErrorPtr makeError(std::int64_t code, std::string message) {
    return Error::make(kDomain, code, Dictionary{{kDebugDescriptionKey, Value(std::move(message))}});
}

// Where a byte offset lies, as "around line L, column C." (line 1-based,
// column 0-based like the platform's reader reports it).
std::string around(std::string_view text, std::size_t offset) {
    if (offset > text.size()) offset = text.size();
    std::size_t line = 1, column = 0;
    for (std::size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 0;
        } else {
            ++column;
        }
    }
    return " around line " + std::to_string(line) + ", column " + std::to_string(column) + ".";
}

// The scratch stacks of ValueBuilder, which each thread keeps from one parse
// to the next (up to kKeptScratchBytes). Besides the allocations saved, this
// keeps answers from faulting their memory in afresh: the stacks stay where a
// large answer's parse left them in the heap, so when the caller frees the
// tree, its memory below them cannot be handed back to the system, and the
// next answer's tree is built in it. Without them, freeing a tree of a few
// hundred kilobytes or more left a free region at the top of the heap that
// the C library returned to the system, and every later parse of a similar
// answer faulted it all in again, which cost more than the parse itself.
struct BuilderScratch {
    std::vector<Dictionary::Entry> members;
    std::vector<Value> elements;
    bool busy = false;
};

// A 10 MB answer's stacks fit; larger ones are freed after their parse.
constexpr std::size_t kKeptScratchBytes = std::size_t{8} << 20;

// Builds Values straight from the parser's events.
//
// The members of every open container wait in two scratch stacks (one of
// object members, one of array elements) and a container is built when it
// closes, with its storage allocated once at its exact size. Growing each
// container one member at a time instead cost a reallocation per doubling of
// every object and array, and a large answer holds hundreds of thousands of
// them.
class ValueBuilder {
public:
    using json = nlohmann::json;

    ValueBuilder(std::size_t maxDepth, bool fragmentsAllowed)
        : maxDepth_(maxDepth), fragments_(fragmentsAllowed), scratch_(threadScratch()),
          members_(scratch_.members), elements_(scratch_.elements) {
        scratch_.busy = true;
        stack_.reserve(16);
    }

    ~ValueBuilder() {
        // What a failed parse left behind goes now, not at the next parse.
        members_.clear();
        elements_.clear();
        if (members_.capacity() * sizeof(Dictionary::Entry) + elements_.capacity() * sizeof(Value) >
            kKeptScratchBytes) {
            std::vector<Dictionary::Entry>().swap(members_);
            std::vector<Value>().swap(elements_);
        }
        scratch_.busy = false;
    }

    ValueBuilder(const ValueBuilder&) = delete;
    ValueBuilder& operator=(const ValueBuilder&) = delete;

    bool null() { return add(Value()); }
    bool boolean(bool b) { return add(Value(b)); }
    bool number_integer(json::number_integer_t i) { return add(Value(static_cast<std::int64_t>(i))); }
    bool number_unsigned(json::number_unsigned_t u) { return add(Value(static_cast<unsigned long long>(u))); }
    bool number_float(json::number_float_t d, const json::string_t&) {
        // Integers too large for 64 bits arrive here as doubles (and an
        // overflowing exponent as infinity, which no JSON value may be).
        if (!std::isfinite(d)) return fail(Failure::NumberOutOfRange);
        return add(Value(static_cast<double>(d)));
    }
    // Copied rather than moved: the copy is one allocation of the exact
    // size, while taking the lexer's buffer makes it grow a new one, step by
    // step, for the next long string.
    bool string(json::string_t& s) { return text(s); }
    bool text(std::string_view s) { return add(Value(std::string(s))); }
    bool binary(json::binary_t&) { return fail(Failure::Syntax); }

    bool start_object(std::size_t) { return open(true); }
    bool key(std::string_view k) {
        Frame& top = stack_.back();
        const std::size_t count = members_.size() - top.start;
        if (count < kIndexFrom) {
            // Small objects: a repeated key replaces the earlier value in place.
            for (std::size_t i = top.start; i < members_.size(); ++i) {
                if (members_[i].first == k) {
                    top.slot = i;
                    return true;
                }
            }
        } else {
            if (top.index.empty()) {
                for (std::size_t i = top.start; i < members_.size(); ++i) top.index.emplace(members_[i].first, i);
            }
            auto [it, inserted] = top.index.emplace(std::string(k), members_.size());
            if (!inserted) {
                top.slot = it->second;
                return true;
            }
        }
        top.slot = members_.size();
        members_.emplace_back(std::string(k), Value());
        return true;
    }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(false); }
    bool end_array() { return close(); }

    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& ex) {
        if (failure_ == Failure::None) {
            failure_ = Failure::Syntax;
            errorPosition_ = position;
            parserMessage_ = ex.what();
        }
        return false;
    }

    enum class Failure { None, Syntax, TooDeep, Fragment, NumberOutOfRange };

    Failure failure() const { return failure_; }
    const std::string& parserMessage() const { return parserMessage_; }
    std::size_t errorPosition() const { return errorPosition_; }
    Value takeRoot() { return std::move(root_); }

private:
    struct Frame {
        bool object;
        std::size_t start;      // its first member in members_ or elements_
        std::size_t slot = 0;   // object: the member the next value goes to
        // Key positions once an object grows large, so duplicate keys are
        // found without a linear search per member.
        std::unordered_map<std::string, std::size_t> index;
    };
    static constexpr std::size_t kIndexFrom = 32;

    bool fail(Failure f) {
        if (failure_ == Failure::None) failure_ = f;
        return false;
    }

    bool open(bool object) {
        if (stack_.size() >= maxDepth_) return fail(Failure::TooDeep);
        stack_.push_back(Frame{object, object ? members_.size() : elements_.size(), 0, {}});
        return true;
    }

    bool close() {
        const Frame& top = stack_.back();
        const std::size_t start = top.start;
        Value container;
        if (top.object) {
            Dictionary d;
            d.reserve(members_.size() - start);
            for (std::size_t i = start; i < members_.size(); ++i)
                d.append(std::move(members_[i].first), std::move(members_[i].second));
            members_.erase(members_.begin() + static_cast<std::ptrdiff_t>(start), members_.end());
            container = Value(std::move(d));
        } else {
            Array a(std::make_move_iterator(elements_.begin() + static_cast<std::ptrdiff_t>(start)),
                    std::make_move_iterator(elements_.end()));
            elements_.erase(elements_.begin() + static_cast<std::ptrdiff_t>(start), elements_.end());
            container = Value(std::move(a));
        }
        stack_.pop_back();
        return add(std::move(container), true);
    }

    bool add(Value v, bool container = false) {
        if (stack_.empty()) {
            if (!container && !fragments_) return fail(Failure::Fragment);
            root_ = std::move(v);
            return true;
        }
        const Frame& top = stack_.back();
        if (top.object)
            members_[top.slot].second = std::move(v);
        else
            elements_.push_back(std::move(v));
        return true;
    }

    // This thread's kept stacks, or stacks of the builder's own while another
    // builder on this thread holds them.
    BuilderScratch& threadScratch() {
        thread_local BuilderScratch kept;
        return kept.busy ? own_ : kept;
    }

    std::size_t maxDepth_;
    bool fragments_;
    BuilderScratch own_;
    BuilderScratch& scratch_;
    std::vector<Frame> stack_;
    std::vector<Dictionary::Entry>& members_;
    std::vector<Value>& elements_;
    Value root_;
    Failure failure_ = Failure::None;
    std::size_t errorPosition_ = 0;
    std::string parserMessage_;
};

// Reads a document straight from its text into the builder, for the common
// case: an object or array of well-formed members. It gives up (false) at the
// first byte it is not certain of, valid or not, and JSON::parse then reads
// the text again with the full reader, which decides every doubtful case and
// words every error. Whatever this reader accepts, the full reader accepts
// with the same values: the same grammar, UTF-8 taken by the same ranges,
// integers kept while they fit 64 bits and correctly rounded doubles. It
// exists because the full reader keeps every token's characters for its error
// messages and costs several times as much per byte, on answers that run to
// megabytes.
class FastReader {
public:
    FastReader(std::string_view text, ValueBuilder& builder)
        : p_(text.data()), end_(text.data() + text.size()), b_(builder) {}

    bool read() {
        skipSpace();
        if (p_ == end_ || (*p_ != '{' && *p_ != '[')) return false;
        std::vector<bool> objects;  // kind of each open container, innermost last
    value:
        if (p_ == end_) return false;
        switch (*p_) {
        case '{':
            ++p_;
            if (!b_.start_object(0)) return false;
            skipSpace();
            if (p_ != end_ && *p_ == '}') {
                ++p_;
                if (!b_.end_object()) return false;
                goto next;
            }
            objects.push_back(true);
            goto key;
        case '[':
            ++p_;
            if (!b_.start_array(0)) return false;
            skipSpace();
            if (p_ != end_ && *p_ == ']') {
                ++p_;
                if (!b_.end_array()) return false;
                goto next;
            }
            objects.push_back(false);
            goto value;
        case '"': {
            std::string_view s;
            if (!string(s) || !b_.text(s)) return false;
            goto next;
        }
        case 't':
            if (!literal("true") || !b_.boolean(true)) return false;
            goto next;
        case 'f':
            if (!literal("false") || !b_.boolean(false)) return false;
            goto next;
        case 'n':
            if (!literal("null") || !b_.null()) return false;
            goto next;
        default:
            if (!number()) return false;
            goto next;
        }
    key: {
        if (p_ == end_ || *p_ != '"') return false;
        std::string_view k;
        if (!string(k) || !b_.key(k)) return false;
        skipSpace();
        if (p_ == end_ || *p_ != ':') return false;
        ++p_;
        skipSpace();
        goto value;
    }
    next:
        skipSpace();
        if (objects.empty()) return p_ == end_;
        if (p_ == end_) return false;
        if (*p_ == ',') {
            ++p_;
            skipSpace();
            if (objects.back()) goto key;
            goto value;
        }
        if (*p_ == (objects.back() ? '}' : ']')) {
            ++p_;
            const bool object = objects.back();
            objects.pop_back();
            if (!(object ? b_.end_object() : b_.end_array())) return false;
            goto next;
        }
        return false;
    }

private:
    void skipSpace() {
        while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
    }

    bool literal(std::string_view word) {
        if (static_cast<std::size_t>(end_ - p_) < word.size() || std::string_view(p_, word.size()) != word)
            return false;
        p_ += word.size();
        return true;
    }

    static unsigned char byte(const char* p) { return static_cast<unsigned char>(*p); }

    // Length of the well-formed UTF-8 sequence of two to four bytes at p_,
    // or 0 (the ranges of RFC 3629: no overlong forms, no surrogates, nothing
    // above U+10FFFF).
    std::size_t sequence() const {
        const std::size_t left = static_cast<std::size_t>(end_ - p_);
        const unsigned char c = byte(p_);
        auto cont = [&](std::size_t i, unsigned char lo = 0x80, unsigned char hi = 0xBF) {
            return i < left && byte(p_ + i) >= lo && byte(p_ + i) <= hi;
        };
        if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
        if (c == 0xE0) return cont(1, 0xA0) && cont(2) ? 3 : 0;
        if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) return cont(1) && cont(2) ? 3 : 0;
        if (c == 0xED) return cont(1, 0x80, 0x9F) && cont(2) ? 3 : 0;
        if (c == 0xF0) return cont(1, 0x90) && cont(2) && cont(3) ? 4 : 0;
        if (c >= 0xF1 && c <= 0xF3) return cont(1) && cont(2) && cont(3) ? 4 : 0;
        if (c == 0xF4) return cont(1, 0x80, 0x8F) && cont(2) && cont(3) ? 4 : 0;
        return 0;
    }

    // Four hex digits after "\u" at p_.
    bool hex4(std::uint32_t& value) {
        if (end_ - p_ < 4) return false;
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = *p_++;
            std::uint32_t d;
            if (c >= '0' && c <= '9') d = static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f') d = static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') d = static_cast<std::uint32_t>(c - 'A' + 10);
            else return false;
            value = value << 4 | d;
        }
        return true;
    }

    // The string at p_ (on its opening quote): a view of the text itself, or
    // of scratch_ once an escape has to be undone.
    bool string(std::string_view& out) {
        const char* start = ++p_;
        bool escaped = false;
        for (;;) {
            // Plain printable ASCII, the bulk of any text.
            while (p_ != end_ && byte(p_) >= 0x20 && byte(p_) < 0x80 && *p_ != '"' && *p_ != '\\') ++p_;
            if (p_ == end_) return false;
            const unsigned char c = byte(p_);
            if (c == '"') break;
            if (c < 0x20) return false;  // control characters must be escaped
            if (c >= 0x80) {
                const std::size_t n = sequence();
                if (n == 0) return false;
                p_ += n;
                continue;
            }
            // A backslash: from here on the string is built in scratch_.
            if (!escaped) scratch_.clear();
            scratch_.append(start, p_);
            escaped = true;
            if (++p_ == end_) return false;
            const char e = *p_++;
            switch (e) {
            case '"': scratch_ += '"'; break;
            case '\\': scratch_ += '\\'; break;
            case '/': scratch_ += '/'; break;
            case 'b': scratch_ += '\b'; break;
            case 'f': scratch_ += '\f'; break;
            case 'n': scratch_ += '\n'; break;
            case 'r': scratch_ += '\r'; break;
            case 't': scratch_ += '\t'; break;
            case 'u': {
                std::uint32_t cp;
                if (!hex4(cp)) return false;
                if (cp >= 0xDC00 && cp <= 0xDFFF) return false;
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    std::uint32_t low;
                    if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') return false;
                    p_ += 2;
                    if (!hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                appendUTF8(scratch_, cp);
                break;
            }
            default: return false;
            }
            start = p_;
        }
        if (escaped) {
            scratch_.append(start, p_);
            out = scratch_;
        } else {
            out = std::string_view(start, static_cast<std::size_t>(p_ - start));
        }
        ++p_;
        return true;
    }

    static bool digit(const char* p) { return *p >= '0' && *p <= '9'; }

    // A number at p_: an integer while it fits 64 bits (unsigned above
    // INT64_MAX), otherwise a double; one out of a double's range is left to
    // the full reader.
    bool number() {
        const char* start = p_;
        if (*p_ == '-') ++p_;
        if (p_ == end_ || !digit(p_)) return false;
        if (*p_ == '0') {
            ++p_;
        } else {
            while (p_ != end_ && digit(p_)) ++p_;
        }
        bool integer = true;
        if (p_ != end_ && *p_ == '.') {
            integer = false;
            if (++p_ == end_ || !digit(p_)) return false;
            while (p_ != end_ && digit(p_)) ++p_;
        }
        if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
            integer = false;
            if (++p_ != end_ && (*p_ == '+' || *p_ == '-')) ++p_;
            if (p_ == end_ || !digit(p_)) return false;
            while (p_ != end_ && digit(p_)) ++p_;
        }
        if (integer) {
            if (*start == '-') {
                std::int64_t i;
                if (std::from_chars(start, p_, i).ec == std::errc()) return b_.number_integer(i);
            } else {
                std::uint64_t u;
                if (std::from_chars(start, p_, u).ec == std::errc()) return b_.number_unsigned(u);
            }
        }
        double d;
        const auto [end, ec] = std::from_chars(start, p_, d);
        if (ec != std::errc() || end != p_ || !std::isfinite(d)) return false;
        static const nlohmann::json::string_t kNoText;
        return b_.number_float(d, kNoText);
    }

    const char* p_;
    const char* end_;
    ValueBuilder& b_;
    std::string scratch_;
};

std::string describeSyntaxError(std::string_view text, const ValueBuilder& b) {
    const std::string& m = b.parserMessage();
    std::size_t pos = b.errorPosition() > 0 ? b.errorPosition() - 1 : 0;
    if (m.find("empty input") != std::string::npos) return "Unexpected end of file during JSON parse.";
    if (m.find("UTF-8") != std::string::npos) return "Unable to convert data to string" + around(text, pos);
    if (m.find("unexpected end of input") != std::string::npos)
        return "Unexpected end of file during JSON parse" + around(text, pos);
    if (m.find("expected end of input") != std::string::npos) return "Garbage at end" + around(text, pos);
    if (m.find("number overflow") != std::string::npos) return "Number out of range" + around(text, pos);
    return "Invalid value" + around(text, pos) + " (" + m + ")";
}

// ---------------------------------------------------------------------------
// Writing

class Writer {
public:
    explicit Writer(bool pretty) : pretty_(pretty) {}

    bool write(const Value& v, std::size_t depth) {
        switch (v.type()) {
        case Value::Type::Null: out_ += "null"; return true;
        case Value::Type::Bool: out_ += v.asBool() ? "true" : "false"; return true;
        case Value::Type::Int: out_ += std::to_string(v.asInt()); return true;
        case Value::Type::UInt: out_ += std::to_string(v.asUInt()); return true;
        case Value::Type::Double: {
            double d = v.asDouble();
            if (!std::isfinite(d))
                return fail(std::string("Invalid number value (") + (std::isnan(d) ? "NaN" : "infinite") +
                            ") in JSON write");
            std::string text = formatDouble(d);
            // Keep it a double when read back: "3" would come back as an integer.
            if (text.find_first_of(".e") == std::string::npos) text += ".0";
            out_ += text;
            return true;
        }
        case Value::Type::String: return writeString(v.asString());
        case Value::Type::Bytes: return fail("Invalid type in JSON write (bytes)");
        case Value::Type::Array: {
            if (depth >= JSON::kMaxDepth) return fail("Too many nested arrays or dictionaries in JSON write");
            const Array& a = v.asArray();
            out_ += '[';
            for (std::size_t i = 0; i < a.size(); ++i) {
                if (i) out_ += ',';
                newline(depth + 1);
                if (!write(a[i], depth + 1)) return false;
            }
            if (!a.empty()) newline(depth);
            out_ += ']';
            return true;
        }
        case Value::Type::Dictionary: {
            if (depth >= JSON::kMaxDepth) return fail("Too many nested arrays or dictionaries in JSON write");
            const Dictionary& d = v.asDictionary();
            out_ += '{';
            bool first = true;
            for (const auto& [key, value] : d) {
                if (!first) out_ += ',';
                first = false;
                newline(depth + 1);
                if (!writeString(key)) return false;
                out_ += pretty_ ? " : " : ":";
                if (!write(value, depth + 1)) return false;
            }
            if (!d.empty()) newline(depth);
            out_ += '}';
            return true;
        }
        }
        return fail("Invalid type in JSON write");
    }

    std::string take() { return std::move(out_); }
    const std::string& message() const { return message_; }

private:
    bool fail(std::string message) {
        message_ = std::move(message);
        return false;
    }

    void newline(std::size_t depth) {
        if (!pretty_) return;
        out_ += '\n';
        out_.append(depth * 2, ' ');
    }

    bool writeString(const std::string& s) {
        if (!isValidUTF8(s)) return fail("Invalid string (not UTF-8) in JSON write");
        out_ += '"';
        for (char c : s) {
            switch (c) {
            case '"': out_ += "\\\""; break;
            case '\\': out_ += "\\\\"; break;
            case '/': out_ += "\\/"; break;  // the platform's writer escapes slashes
            case '\b': out_ += "\\b"; break;
            case '\f': out_ += "\\f"; break;
            case '\n': out_ += "\\n"; break;
            case '\r': out_ += "\\r"; break;
            case '\t': out_ += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
                    out_ += buf;
                } else {
                    out_ += c;
                }
            }
        }
        out_ += '"';
        return true;
    }

    bool pretty_;
    std::string out_;
    std::string message_;
};

}  // namespace

std::optional<Value> JSON::parse(std::string_view text, unsigned options, ErrorPtr* error, std::size_t maxDepth) {
    // The underlying lexer takes a NUL byte for the end of input, which would
    // let "[1]\0garbage" through. A raw NUL is never valid JSON, so parse what
    // precedes it and call the rest garbage.
    std::size_t nul = text.find('\0');
    std::string_view body = nul == std::string_view::npos ? text : text.substr(0, nul);
    {
        ValueBuilder fast(maxDepth, (options & kFragmentsAllowed) != 0);
        if (FastReader(body, fast).read() && fast.failure() == ValueBuilder::Failure::None) {
            if (nul == std::string_view::npos) return fast.takeRoot();
            if (error) *error = makeError(kErrorCodeRead, "Garbage at end" + around(text, nul));
            return std::nullopt;
        }
    }
    ValueBuilder builder(maxDepth, (options & kFragmentsAllowed) != 0);
    bool ok = nlohmann::json::sax_parse(body.begin(), body.end(), &builder, nlohmann::json::input_format_t::json,
                                        /*strict=*/true, /*ignore_comments=*/false);
    if (ok && builder.failure() == ValueBuilder::Failure::None) {
        if (nul == std::string_view::npos) return builder.takeRoot();
        if (error) *error = makeError(kErrorCodeRead, "Garbage at end" + around(text, nul));
        return std::nullopt;
    }
    if (error) {
        std::string message;
        switch (builder.failure()) {
        case ValueBuilder::Failure::TooDeep: message = "Too many nested arrays or dictionaries."; break;
        case ValueBuilder::Failure::Fragment:
            message = "JSON text did not start with array or object and option to allow fragments not set.";
            break;
        case ValueBuilder::Failure::NumberOutOfRange: message = "Number out of range."; break;
        default: message = describeSyntaxError(text, builder); break;
        }
        *error = makeError(kErrorCodeRead, std::move(message));
    }
    return std::nullopt;
}

std::optional<Value> JSON::parse(const Bytes& data, unsigned options, ErrorPtr* error, std::size_t maxDepth) {
    return parse(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), options, error, maxDepth);
}

std::optional<std::string> JSON::write(const Value& value, unsigned options, ErrorPtr* error) {
    if (!value.isArray() && !value.isDictionary() && !(options & kWriteFragmentsAllowed)) {
        if (error) *error = makeError(kErrorCodeWrite, "Invalid top-level type in JSON write");
        return std::nullopt;
    }
    Writer writer((options & kPrettyPrinted) != 0);
    if (!writer.write(value, 0)) {
        if (error) *error = makeError(kErrorCodeWrite, writer.message());
        return std::nullopt;
    }
    return writer.take();
}

bool JSON::isValidJSONObject(const Value& value, unsigned options) {
    return write(value, options).has_value();
}

}  // namespace pellix::platform
