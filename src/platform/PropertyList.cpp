#include "platform/PropertyList.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>

#include <plist/plist.h>

#include "platform/BinaryPropertyList.h"

namespace pellix::platform {

namespace {

constexpr const char* kDomain = "NSCocoaErrorDomain";
constexpr double kEpochOffset = 978307200.0;  // 1970 → 2001, libplist's date epoch

ErrorPtr makeError(std::int64_t code, const std::string& message) {
    return Error::make(kDomain, code, Dictionary{{"NSDebugDescription", Value(message)}});
}

struct PlistDeleter {
    void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// libplist node → Value, depth-capped (its XML reader accepts any nesting).
std::optional<Value> fromNode(plist_t node, std::size_t depth, std::string& why) {
    if (depth > PropertyList::kMaxDepth) {
        why = "nested too deeply";
        return std::nullopt;
    }
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        std::uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return Value(b != 0);
    }
    case PLIST_UINT: {
        // libplist 2.2 keeps one 64-bit pattern for both signs; XML integers
        // are signed, so read it back as such.
        std::uint64_t u = 0;
        plist_get_uint_val(node, &u);
        return Value(static_cast<std::int64_t>(u));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return Value(d);
    }
    case PLIST_STRING: {
        std::uint64_t len = 0;
        const char* p = plist_get_string_ptr(node, &len);
        return Value(std::string(p ? p : "", p ? static_cast<std::size_t>(len) : 0));
    }
    case PLIST_DATA: {
        std::uint64_t len = 0;
        const char* p = plist_get_data_ptr(node, &len);
        const auto* b = reinterpret_cast<const std::uint8_t*>(p);
        return Value(p ? Bytes(b, b + len) : Bytes());
    }
    case PLIST_DATE: {
        std::int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return Value(static_cast<double>(sec) + static_cast<double>(usec) / 1e6 + kEpochOffset);
    }
    case PLIST_UID: {
        std::uint64_t u = 0;
        plist_get_uid_val(node, &u);
        return Value(Dictionary{{"CF$UID", Value(static_cast<unsigned long long>(u))}});
    }
    case PLIST_ARRAY: {
        Array a;
        std::uint32_t n = plist_array_get_size(node);
        a.reserve(n);
        for (std::uint32_t i = 0; i < n; ++i) {
            auto v = fromNode(plist_array_get_item(node, i), depth + 1, why);
            if (!v) return std::nullopt;
            a.push_back(std::move(*v));
        }
        return Value(std::move(a));
    }
    case PLIST_DICT: {
        Dictionary d;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            char* key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, it, &key, &item);
            if (!item) {
                std::free(key);
                break;
            }
            std::string k = key ? key : "";
            std::free(key);
            auto v = fromNode(item, depth + 1, why);
            if (!v) {
                std::free(it);
                return std::nullopt;
            }
            d.set(std::move(k), std::move(*v));
        }
        std::free(it);
        return Value(std::move(d));
    }
    default: why = "unsupported element"; return std::nullopt;
    }
}

// Whether an XML document nests arrays and dictionaries more than `limit`
// levels deep. libplist parses any depth but releases its tree recursively,
// so a few megabytes of nesting would overflow the stack when the tree is
// freed: such documents are turned away before libplist sees them.
bool nestedTooDeeply(const Bytes& data, std::size_t limit) {
    const std::string_view s(reinterpret_cast<const char*>(data.data()), data.size());
    auto isNameEnd = [](char c) { return c == '>' || c == '/' || c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t depth = 0;
    for (std::size_t i = s.find('<'); i != std::string_view::npos; i = s.find('<', i + 1)) {
        std::string_view rest = s.substr(i + 1);
        if (rest.starts_with("!--") || rest.starts_with("![CDATA[")) {
            const std::size_t end = s.find(rest[1] == '-' ? "-->" : "]]>", i + 1);
            if (end == std::string_view::npos) break;
            i = end;
            continue;
        }
        const bool closing = rest.starts_with('/');
        if (closing) rest.remove_prefix(1);
        const std::size_t nameLength = rest.starts_with("array") ? 5 : rest.starts_with("dict") ? 4 : 0;
        if (nameLength == 0 || rest.size() <= nameLength || !isNameEnd(rest[nameLength])) continue;
        const std::size_t close = s.find('>', i);
        if (close == std::string_view::npos) break;
        if (closing) {
            if (depth > 0) --depth;
        } else if (s[close - 1] != '/' && ++depth > limit) {
            return true;
        }
        i = close;
    }
    return false;
}

// Value → libplist node for the XML writer.
PlistPtr toNode(const Value& v, std::size_t depth, std::string& why) {
    if (depth > PropertyList::kMaxDepth) {
        why = "nested too deeply";
        return nullptr;
    }
    switch (v.type()) {
    case Value::Type::Null: why = "null has no property-list form"; return nullptr;
    case Value::Type::Bool: return PlistPtr(plist_new_bool(v.asBool() ? 1 : 0));
    case Value::Type::Int: return PlistPtr(plist_new_uint(static_cast<std::uint64_t>(v.asInt())));
    case Value::Type::UInt:
        // libplist 2.2 would print it as a negative number.
        why = "integer above INT64_MAX has no XML property-list form here";
        return nullptr;
    case Value::Type::Double:
        if (!std::isfinite(v.asDouble())) {
            why = "non-finite number";
            return nullptr;
        }
        return PlistPtr(plist_new_real(v.asDouble()));
    case Value::Type::String:
        if (!isValidUTF8(v.asString()) || v.asString().find('\0') != std::string::npos) {
            why = "text is not UTF-8 or holds a NUL";
            return nullptr;
        }
        return PlistPtr(plist_new_string(v.asString().c_str()));
    case Value::Type::Bytes: {
        const Bytes& b = v.asBytes();
        return PlistPtr(plist_new_data(reinterpret_cast<const char*>(b.data()), b.size()));
    }
    case Value::Type::Array: {
        PlistPtr a(plist_new_array());
        for (const auto& e : v.asArray()) {
            PlistPtr item = toNode(e, depth + 1, why);
            if (!item) return nullptr;
            plist_array_append_item(a.get(), item.release());
        }
        return a;
    }
    case Value::Type::Dictionary: {
        PlistPtr d(plist_new_dict());
        for (const auto& [k, e] : v.asDictionary()) {
            if (!isValidUTF8(k) || k.find('\0') != std::string::npos) {
                why = "key is not UTF-8 or holds a NUL";
                return nullptr;
            }
            PlistPtr item = toNode(e, depth + 1, why);
            if (!item) return nullptr;
            plist_dict_set_item(d.get(), k.c_str(), item.release());
        }
        return d;
    }
    }
    return nullptr;
}

}  // namespace

std::optional<Value> PropertyList::read(const Bytes& data, Format* format, ErrorPtr* error) {
    if (data.size() >= 8 && std::memcmp(data.data(), "bplist", 6) == 0) {
        if (format) *format = Format::Binary;
        BinaryPropertyList::Options options;
        options.maxDepth = kMaxDepth;
        return BinaryPropertyList::read(data, error, options);
    }
    if (format) *format = Format::XML;
    std::string why = "not a property list";
    // The root sits at depth 0, so kMaxDepth + 1 levels of containers still read.
    if (!data.empty() && nestedTooDeeply(data, kMaxDepth + 1)) {
        why = "nested too deeply";
    } else if (!data.empty() && data.size() <= std::numeric_limits<std::uint32_t>::max()) {
        plist_t raw = nullptr;
        plist_from_xml(reinterpret_cast<const char*>(data.data()), static_cast<std::uint32_t>(data.size()), &raw);
        PlistPtr root(raw);
        if (root) {
            auto v = fromNode(root.get(), 0, why);
            if (v) return v;
        }
    }
    if (error) *error = makeError(kErrorCodeRead, "Corrupt property list: " + why);
    return std::nullopt;
}

std::optional<Bytes> PropertyList::write(const Value& value, Format format, ErrorPtr* error) {
    if (format == Format::Binary) {
        BinaryPropertyList::Options options;
        options.maxDepth = kMaxDepth;
        return BinaryPropertyList::write(value, error, options);
    }
    std::string why;
    PlistPtr root = toNode(value, 0, why);
    if (!root) {
        if (error) *error = makeError(kErrorCodeWrite, "Cannot write property list: " + why);
        return std::nullopt;
    }
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    if (!xml) {
        if (error) *error = makeError(kErrorCodeWrite, "Cannot write property list");
        return std::nullopt;
    }
    Bytes out(reinterpret_cast<const std::uint8_t*>(xml), reinterpret_cast<const std::uint8_t*>(xml) + length);
    plist_to_xml_free(xml);
    return out;
}

}  // namespace pellix::platform
