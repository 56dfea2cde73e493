// Value: the dynamic value the platform's collections and JSON carry.
//
// One type stands for numbers, text, bytes, arrays, dictionaries and null, so
// records, JSON answers, property lists and archives share one currency. A
// Value is a plain value type: copies are deep, moves are cheap, and it is not
// synchronised (share it between threads only as const).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

namespace pellix::platform {

using Bytes = std::vector<std::uint8_t>;

class Value;
using Array = std::vector<Value>;

// Dictionary with text keys that keeps insertion order (the order JSON and
// parameter lists are written in). Look-ups are linear below a few dozen keys,
// which is what records and envelopes hold.
class Dictionary {
public:
    using Entry = std::pair<std::string, Value>;
    using const_iterator = std::vector<Entry>::const_iterator;
    using iterator = std::vector<Entry>::iterator;

    Dictionary() = default;
    Dictionary(std::initializer_list<Entry> entries);

    // nullptr when absent.
    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    // Replaces an existing value in place (its position kept) or appends.
    void set(std::string key, Value value);
    // Appends without looking for an existing key (for readers that already
    // know the key is new, so building a large dictionary stays linear).
    void append(std::string key, Value value);
    // The same, building the value in place from `args` (a Value constructor's).
    template <typename Key, typename... Args>
    Value& emplace(Key&& key, Args&&... args);
    // Room for `count` entries in all, so that many appends allocate once.
    void reserve(std::size_t count);
    // Inserts a null when absent.
    Value& operator[](std::string_view key);
    bool erase(std::string_view key);
    // These bodies follow class Value below: they need it complete (clang
    // with libstdc++ rejects them here).
    void clear();

    std::size_t size() const;
    bool empty() const;
    const_iterator begin() const;
    const_iterator end() const;
    iterator begin();
    iterator end();
    std::vector<std::string> keys() const;

    // Same keys with equal values, in any order.
    friend bool operator==(const Dictionary& a, const Dictionary& b);

private:
    std::vector<Entry> entries_;
};

class Value {
public:
    enum class Type { Null, Bool, Int, UInt, Double, String, Bytes, Array, Dictionary };

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : v_(b) {}
    Value(int i) : v_(static_cast<std::int64_t>(i)) {}
    Value(long i) : v_(static_cast<std::int64_t>(i)) {}
    Value(long long i) : v_(static_cast<std::int64_t>(i)) {}
    Value(unsigned u) : v_(static_cast<std::int64_t>(u)) {}
    // Unsigned values above INT64_MAX keep their own type; smaller ones are Int.
    Value(unsigned long u);
    Value(unsigned long long u) : Value(static_cast<unsigned long>(u)) {}
    Value(double d) : v_(d) {}
    Value(float f) : v_(static_cast<double>(f)) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(const std::string& s) : v_(std::in_place_type<std::string>, s) {}
    Value(std::string&& s) : v_(std::in_place_type<std::string>, std::move(s)) {}
    Value(std::string_view s) : v_(std::string(s)) {}
    Value(platform::Bytes b) : v_(std::move(b)) {}
    Value(platform::Array a) : v_(std::in_place_type<platform::Array>, std::move(a)) {}
    Value(platform::Dictionary d) : v_(std::in_place_type<platform::Dictionary>, std::move(d)) {}

    Value(const Value& o);
    Value& operator=(const Value& o);
    // Out of line: GCC 12 inlines the variant's move into callers and then
    // warns (-Wmaybe-uninitialized) about members of inactive alternatives.
    Value(Value&&) noexcept;
    Value& operator=(Value&&) noexcept;

    Type type() const { return static_cast<Type>(v_.index()); }
    bool isNull() const { return type() == Type::Null; }
    bool isBool() const { return type() == Type::Bool; }
    bool isInt() const { return type() == Type::Int; }
    bool isUInt() const { return type() == Type::UInt; }
    bool isDouble() const { return type() == Type::Double; }
    // Bool, Int, UInt or Double: what the platform calls a number.
    bool isNumber() const;
    bool isString() const { return type() == Type::String; }
    bool isBytes() const { return type() == Type::Bytes; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }

    // Typed access; each throws std::bad_variant_access on the wrong type.
    bool asBool() const { return std::get<bool>(v_); }
    std::int64_t asInt() const { return std::get<std::int64_t>(v_); }
    std::uint64_t asUInt() const { return std::get<std::uint64_t>(v_); }
    double asDouble() const { return std::get<double>(v_); }
    const std::string& asString() const { return std::get<std::string>(v_); }
    const platform::Bytes& asBytes() const { return std::get<platform::Bytes>(v_); }
    const platform::Array& asArray() const { return std::get<platform::Array>(v_); }
    const platform::Dictionary& asDictionary() const { return std::get<platform::Dictionary>(v_); }
    platform::Array& asArray() { return std::get<platform::Array>(v_); }
    platform::Dictionary& asDictionary() { return std::get<platform::Dictionary>(v_); }

    // Lenient readings of numbers and numeric text, as the platform's
    // integerValue / doubleValue / boolValue give them: text is read as a
    // leading decimal number ("12abc" → 12, "abc" → 0), other types give 0.
    std::int64_t intValue() const;
    std::uint64_t uintValue() const;
    double doubleValue() const;
    bool boolValue() const;

    // Pointers for optional access: nullptr when the type differs.
    const std::string* stringIf() const { return std::get_if<std::string>(&v_); }
    const platform::Dictionary* dictionaryIf() const { return std::get_if<platform::Dictionary>(&v_); }
    const platform::Array* arrayIf() const { return std::get_if<platform::Array>(&v_); }

    // Dictionary member (nullptr when not a dictionary or absent).
    const Value* get(std::string_view key) const;
    // Array element (nullptr when not an array or out of range).
    const Value* at(std::size_t index) const;

    // The platform's "%@" text: integers in decimal, booleans "1"/"0", doubles
    // in the shortest form that reads back exactly ("0.1", "3", "1e+100"),
    // text as is, bytes as "<0a1b2c3d 4e>" (groups of four bytes), arrays and dictionaries in the
    // platform's multi-line description form, null as "<null>".
    std::string description() const;

    friend bool operator==(const Value& a, const Value& b);

private:
    // Containers are held in place, not behind a pointer: a tree of them
    // then costs one allocation per container (its elements), not two.
    // A reference to a nested container is therefore valid only while the
    // Value holding it stays where it is.
    std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double, std::string, platform::Bytes,
                 platform::Array, platform::Dictionary>
        v_;
};

inline void Dictionary::clear() { entries_.clear(); }
template <typename Key, typename... Args>
Value& Dictionary::emplace(Key&& key, Args&&... args) {
    return entries_
        .emplace_back(std::piecewise_construct, std::forward_as_tuple(std::forward<Key>(key)),
                      std::forward_as_tuple(std::forward<Args>(args)...))
        .second;
}
inline void Dictionary::reserve(std::size_t count) { entries_.reserve(count); }
inline std::size_t Dictionary::size() const { return entries_.size(); }
inline bool Dictionary::empty() const { return entries_.empty(); }
inline Dictionary::const_iterator Dictionary::begin() const { return entries_.begin(); }
inline Dictionary::const_iterator Dictionary::end() const { return entries_.end(); }
inline Dictionary::iterator Dictionary::begin() { return entries_.begin(); }
inline Dictionary::iterator Dictionary::end() { return entries_.end(); }

// An Array of the given values, moved in where they are rvalues (a braced
// list would copy each, however large).
template <typename... Values>
Array arrayOf(Values&&... values) {
    Array list;
    list.reserve(sizeof...(values));
    (list.emplace_back(std::forward<Values>(values)), ...);
    return list;
}

// Compares two UTF-8 texts by their UTF-16 code units, the order the platform
// sorts strings in (characters above U+FFFF sort by their surrogates).
int compareUTF16(std::string_view a, std::string_view b);
// Number of UTF-16 code units of a UTF-8 text (invalid bytes count one each).
std::size_t utf16Length(std::string_view s);
// True when the text is well-formed UTF-8 (no overlong forms, surrogates or
// code points above U+10FFFF).
bool isValidUTF8(std::string_view s);
// Appends the UTF-8 form of a code point (U+0000..U+10FFFF, surrogates excluded).
void appendUTF8(std::string& out, char32_t cp);

// Shortest decimal text that reads back to the same double.
std::string formatDouble(double d);

}  // namespace pellix::platform
