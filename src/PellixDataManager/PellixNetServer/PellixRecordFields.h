// PellixRecordFields: records described as data.
//
// Every response record and every parameter record declares its fields once,
// as a table of (property name, wire key, member, rule, required flag). The
// table fills a record from a JSON dictionary (key → setter, unknown keys to
// the record's undefined-key hook), builds a parameter dictionary, checks the
// required fields and writes and reads archives. Tables chain to the
// superclass's table, so a record sees its own fields first and then the
// inherited ones.
//
// Declaring a record:
//
//   // Header
//   class PellixOwnMobile : public PellixBaseResponse {
//       PELLIX_RECORD(PellixOwnMobile, PellixBaseResponse)
//       PELLIX_PROPERTY(PellixText, mobile_no, setMobile_no)
//   };
//   // Source
//   PELLIX_FIELDS(PellixOwnMobile,
//       pellixField("mobile_no", &Self::mobile_no_))
//
// Field rules (how a wire value lands in the member, by member type):
//   PellixText (std::optional<std::string>): text as is; a number keeps its
//       "%@" text (decimal; booleans "1"/"0"); null clears the field; an
//       array or object is refused (field unchanged, undefined-key hook).
//   platform::Value: stored exactly as given (null = unset).
//   bool: the value's Boolean reading (a non-zero number; text starting with
//       1-9, Y, y, T or t); pellixTextFlag() instead: YES only for the text "1".
//   std::int64_t / std::int32_t / double: the value's integer (0 when it
//       does not fit 32 bits) / floating reading.
//   PellixTextList (std::optional<std::vector<std::string>>): an array's
//       elements by the PellixText rule; elements that are objects, arrays
//       or null are left out, each through the undefined-key hook; null
//       clears the list; any other value is refused (field unchanged,
//       undefined-key hook).
//   PellixRecordList<Item>: one Item per dictionary element, others skipped;
//       a value that is not an array gives an empty list (never unset once
//       seen).
//   PellixDate (optional seconds since 1970): a number; anything else unsets.
// PELLIX_RECORD leaves the class body at `private:`; each PELLIX_PROPERTY
// leaves it at `public:`. A property left out of PELLIX_FIELDS (a flag that
// only steers a hook, say) is neither filled from JSON nor sent nor archived.
// `.wire("key")` sends / reads the field under another key than its name;
// `.required()` makes isParamsComplete() demand it set and non-empty;
// `.rule(fn)` replaces the rule with fn(member&, const Value&).
//
// Thread safety: tables are immutable after their first use (built once,
// thread-safe static initialisation); records themselves are not synchronised.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/Value.h"

namespace pellix {

using PellixText = std::optional<std::string>;
using PellixTextList = std::optional<std::vector<std::string>>;
// A date: seconds since 1970-01-01 UTC, as platform::Clock::now() gives it.
using PellixDate = std::optional<double>;
template <class Item>
using PellixRecordList = std::optional<std::vector<std::shared_ptr<Item>>>;

// How a member of type T is filled from a wire value and read back.
template <class T, class Enable = void>
struct PellixFieldCodec;

template <>
struct PellixFieldCodec<PellixText> {
    static void assign(PellixText& f, const platform::Value& v) {
        if (v.isNull()) {
            f.reset();
        } else if (const std::string* s = v.stringIf()) {
            f = *s;
        } else if (accepts(v)) {
            f = v.description();
        }
    }
    // A host reading a text field must always find text: an array or an
    // object sent for one is refused (the field stays as it was and the key
    // goes to the undefined-key hook) rather than stored as its description.
    static bool accepts(const platform::Value& v) { return !v.isArray() && !v.isDictionary(); }
    static platform::Value read(const PellixText& f) { return f ? platform::Value(*f) : platform::Value(); }
    static bool isSet(const PellixText& f) { return f.has_value(); }
    static bool isFilled(const PellixText& f) { return f && !f->empty(); }
};

template <>
struct PellixFieldCodec<platform::Value> {
    static void assign(platform::Value& f, const platform::Value& v) { f = v; }
    static platform::Value read(const platform::Value& f) { return f; }
    static bool isSet(const platform::Value& f) { return !f.isNull(); }
    static bool isFilled(const platform::Value& f) {
        if (const std::string* s = f.stringIf()) return !s->empty();
        return !f.isNull();
    }
};

template <>
struct PellixFieldCodec<bool> {
    static void assign(bool& f, const platform::Value& v) { f = v.boolValue(); }
    static platform::Value read(bool f) { return platform::Value(f); }
    static bool isSet(bool) { return true; }
    static bool isFilled(bool) { return true; }
};

template <>
struct PellixFieldCodec<std::int64_t> {
    static void assign(std::int64_t& f, const platform::Value& v) { f = v.intValue(); }
    static platform::Value read(std::int64_t f) { return platform::Value(f); }
    static bool isSet(std::int64_t) { return true; }
    static bool isFilled(std::int64_t) { return true; }
};

template <>
struct PellixFieldCodec<std::int32_t> {
    // The integer reading when it fits in 32 bits, else 0.
    static void assign(std::int32_t& f, const platform::Value& v) {
        const std::int64_t i = v.intValue();
        f = (i >= INT32_MIN && i <= INT32_MAX) ? static_cast<std::int32_t>(i) : 0;
    }
    static platform::Value read(std::int32_t f) { return platform::Value(f); }
    static bool isSet(std::int32_t) { return true; }
    static bool isFilled(std::int32_t) { return true; }
};

template <>
struct PellixFieldCodec<double> {
    static void assign(double& f, const platform::Value& v) { f = v.doubleValue(); }
    static platform::Value read(double f) { return platform::Value(f); }
    static bool isSet(double) { return true; }
    static bool isFilled(double) { return true; }
};

template <>
struct PellixFieldCodec<PellixTextList> {
    using Skipped = std::function<void(const platform::Value& element)>;
    // An array's elements by the text-field rule (text as is, numbers as
    // their text); an element that is no text (object, array, null) is left
    // out and handed to `skipped`. Null clears the list; any other value
    // leaves it as it was.
    static void assign(PellixTextList& f, const platform::Value& v, const Skipped& skipped = {}) {
        if (v.isNull()) {
            f.reset();
            return;
        }
        const platform::Array* a = v.arrayIf();
        if (!a) return;
        f.emplace();
        for (const platform::Value& e : *a) {
            if (e.isNull() || !PellixFieldCodec<PellixText>::accepts(e)) {
                if (skipped) skipped(e);
                continue;
            }
            const std::string* s = e.stringIf();
            f->push_back(s ? *s : e.description());
        }
    }
    // A list field is never filled from a value that is not a list: a topic
    // list read as empty would silently drop the resident's subscriptions.
    static bool accepts(const platform::Value& v) { return v.isNull() || v.isArray(); }
    static platform::Value read(const PellixTextList& f) {
        if (!f) return platform::Value();
        platform::Array a;
        for (const std::string& s : *f) a.emplace_back(s);
        return platform::Value(std::move(a));
    }
    static bool isSet(const PellixTextList& f) { return f.has_value(); }
    static bool isFilled(const PellixTextList& f) { return f && !f->empty(); }
};

template <>
struct PellixFieldCodec<PellixDate> {
    static void assign(PellixDate& f, const platform::Value& v) {
        if (v.isNumber() && !v.isBool()) {
            f = v.doubleValue();
        } else {
            f.reset();
        }
    }
    static platform::Value read(const PellixDate& f) { return f ? platform::Value(*f) : platform::Value(); }
    static bool isSet(const PellixDate& f) { return f.has_value(); }
    static bool isFilled(const PellixDate& f) { return f.has_value(); }
};

// Lists of records: Item provides make(const Dictionary&) and encodeWithCoder().
template <class Item>
struct PellixFieldCodec<PellixRecordList<Item>> {
    static void assign(PellixRecordList<Item>& f, const platform::Value& v) {
        f.emplace();
        if (const platform::Array* a = v.arrayIf()) {
            for (const platform::Value& e : *a) {
                if (const platform::Dictionary* d = e.dictionaryIf()) f->push_back(Item::template make<Item>(*d));
            }
        }
    }
    static platform::Value read(const PellixRecordList<Item>& f) {
        if (!f) return platform::Value();
        platform::Array a;
        for (const auto& item : *f) a.emplace_back(item ? item->encodeWithCoder() : platform::Dictionary());
        return platform::Value(std::move(a));
    }
    static bool isSet(const PellixRecordList<Item>& f) { return f.has_value(); }
    static bool isFilled(const PellixRecordList<Item>& f) { return f && !f->empty(); }
};

// Text flags: YES only for the text "1"; any other value, numbers included, NO.
inline void pellixTextFlag(bool& f, const platform::Value& v) {
    const std::string* s = v.stringIf();
    f = s && *s == "1";
}

// One field, with its owner's type erased to the table's base class.
template <class Base>
struct PellixField {
    std::string name;  // property name; the archive key
    std::string key;   // wire key of JSON answers and parameter dictionaries
    bool required = false;
    std::function<void(Base&, const platform::Value&)> assign;
    std::function<platform::Value(const Base&)> read;
    std::function<bool(const Base&)> isSet;
    std::function<bool(const Base&)> isFilled;
    // Whether the field takes the value at all (null: every value); a value
    // it refuses goes to the record's undefined-key hook.
    std::function<bool(const platform::Value&)> accepts;
};

// Builder of one field of Owner (member type T).
template <class Owner, class T>
class PellixFieldSpec {
public:
    using Base = typename Owner::FieldBase;
    using Rule = std::function<void(T&, const platform::Value&)>;

    PellixFieldSpec(std::string name, T Owner::*member) : name_(std::move(name)), key_(name_), member_(member) {}

    PellixFieldSpec wire(std::string key) && {
        key_ = std::move(key);
        return std::move(*this);
    }
    PellixFieldSpec required() && {
        required_ = true;
        return std::move(*this);
    }
    PellixFieldSpec rule(Rule rule) && {
        rule_ = std::move(rule);
        return std::move(*this);
    }

    operator PellixField<Base>() const {
        using Codec = PellixFieldCodec<T>;
        T Owner::*m = member_;
        PellixField<Base> f;
        f.name = name_;
        f.key = key_;
        f.required = required_;
        if (rule_) {
            Rule rule = rule_;
            f.assign = [m, rule](Base& b, const platform::Value& v) { rule(static_cast<Owner&>(b).*m, v); };
        } else {
            if constexpr (requires(T& t, const platform::Value& v, Base& b) {
                              Codec::assign(t, v, typename Codec::Skipped());
                              b.setValueForUndefinedKey(v, std::string());
                          }) {
                // Elements the rule leaves out go to the undefined-key hook.
                std::string key = key_;
                f.assign = [m, key](Base& b, const platform::Value& v) {
                    Codec::assign(static_cast<Owner&>(b).*m, v,
                                  [&b, &key](const platform::Value& e) { b.setValueForUndefinedKey(e, key); });
                };
            } else {
                f.assign = [m](Base& b, const platform::Value& v) { Codec::assign(static_cast<Owner&>(b).*m, v); };
            }
            if constexpr (requires(const platform::Value& v) { Codec::accepts(v); }) {
                f.accepts = [](const platform::Value& v) { return Codec::accepts(v); };
            }
        }
        f.read = [m](const Base& b) { return Codec::read(static_cast<const Owner&>(b).*m); };
        f.isSet = [m](const Base& b) { return Codec::isSet(static_cast<const Owner&>(b).*m); };
        f.isFilled = [m](const Base& b) { return Codec::isFilled(static_cast<const Owner&>(b).*m); };
        return f;
    }

private:
    std::string name_;
    std::string key_;
    T Owner::*member_;
    bool required_ = false;
    Rule rule_;
};

template <class Owner, class T>
PellixFieldSpec<Owner, T> pellixField(std::string name, T Owner::*member) {
    return PellixFieldSpec<Owner, T>(std::move(name), member);
}

// A key handled by code rather than stored in one member (it reads as null
// and is never sent or archived).
template <class Owner>
PellixField<typename Owner::FieldBase> pellixKey(std::string key,
                                                 std::function<void(Owner&, const platform::Value&)> handler) {
    using Base = typename Owner::FieldBase;
    PellixField<Base> f;
    f.name = key;
    f.key = std::move(key);
    f.assign = [handler = std::move(handler)](Base& b, const platform::Value& v) { handler(static_cast<Owner&>(b), v); };
    f.read = [](const Base&) { return platform::Value(); };
    f.isSet = [](const Base&) { return false; };
    f.isFilled = [](const Base&) { return false; };
    return f;
}

template <class Base>
class PellixFieldTable {
public:
    PellixFieldTable(const PellixFieldTable* parent, std::vector<PellixField<Base>> fields)
        : parent_(parent), fields_(std::move(fields)) {}
    PellixFieldTable(const PellixFieldTable&) = delete;
    PellixFieldTable& operator=(const PellixFieldTable&) = delete;

    const PellixFieldTable* parent() const { return parent_; }
    const std::vector<PellixField<Base>>& ownFields() const { return fields_; }

    // The field a key fills: by wire key, own fields first, then inherited;
    // failing that by property name (a renamed field is also reachable by
    // its own name). nullptr for an undefined key.
    const PellixField<Base>* find(std::string_view key) const {
        for (const PellixFieldTable* t = this; t; t = t->parent_) {
            for (const auto& f : t->fields_) {
                if (f.key == key) return &f;
            }
        }
        for (const PellixFieldTable* t = this; t; t = t->parent_) {
            for (const auto& f : t->fields_) {
                if (f.name == key) return &f;
            }
        }
        return nullptr;
    }

    // Adds wire key → value for every set field, the root table's first.
    void appendParams(const Base& record, platform::Dictionary& into) const {
        if (parent_) parent_->appendParams(record, into);
        for (const auto& f : fields_) {
            if (f.isSet(record)) into.set(f.key, f.read(record));
        }
    }

    // The nearest table (this one, then the ancestors) that declares required
    // fields decides: each of them must be set and non-empty. true when no
    // table declares any.
    bool requiredFilled(const Base& record) const {
        for (const PellixFieldTable* t = this; t; t = t->parent_) {
            bool any = false;
            for (const auto& f : t->fields_) {
                if (!f.required) continue;
                any = true;
                if (!f.isFilled(record)) return false;
            }
            if (any) return true;
        }
        return true;
    }

    // True when every named field (own or inherited) is set, or also
    // non-empty with `filled`; a name no field has counts as unset.
    bool fieldsPresent(const Base& record, std::initializer_list<std::string_view> names, bool filled) const {
        for (std::string_view name : names) {
            const PellixField<Base>* f = byName(name);
            if (!f || !(filled ? f->isFilled(record) : f->isSet(record))) return false;
        }
        return true;
    }

    // Own fields that are set, property name → value, in declaration order
    // or in the order of `names` (fields of ancestors included).
    platform::Dictionary encode(const Base& record) const {
        platform::Dictionary d;
        for (const auto& f : fields_) {
            if (f.isSet(record)) d.set(f.name, f.read(record));
        }
        return d;
    }
    platform::Dictionary encode(const Base& record, std::initializer_list<std::string_view> names) const {
        platform::Dictionary d;
        for (std::string_view name : names) {
            if (const PellixField<Base>* f = byName(name); f && f->isSet(record)) d.set(std::string(name), f->read(record));
        }
        return d;
    }
    // Fills own and inherited fields from an archive (property name → value);
    // names the record does not know are ignored.
    void decode(Base& record, const platform::Dictionary& archive) const {
        for (const auto& [name, value] : archive) {
            if (const PellixField<Base>* f = byName(name)) f->assign(record, value);
        }
    }
    // The same for the listed names only; others in the archive are ignored.
    void decode(Base& record, const platform::Dictionary& archive,
                std::initializer_list<std::string_view> names) const {
        for (std::string_view name : names) {
            const platform::Value* value = archive.find(name);
            const PellixField<Base>* f = byName(name);
            if (value && f) f->assign(record, *value);
        }
    }

private:
    const PellixField<Base>* byName(std::string_view name) const {
        for (const PellixFieldTable* t = this; t; t = t->parent_) {
            for (const auto& f : t->fields_) {
                if (f.name == name) return &f;
            }
        }
        return nullptr;
    }

    const PellixFieldTable* parent_;
    std::vector<PellixField<Base>> fields_;
};

}  // namespace pellix

// Inside a record class: names it and ties it to its field table.
#define PELLIX_RECORD(Class, SuperClass)                                                       \
public:                                                                                        \
    using Self = Class;                                                                        \
    using Super = SuperClass;                                                                  \
    static constexpr const char* kClassName = #Class;                                          \
    const char* className() const override { return kClassName; }                              \
    static const ::pellix::PellixFieldTable<FieldBase>& fields();                               \
    const ::pellix::PellixFieldTable<FieldBase>& fieldTable() const override { return fields(); } \
                                                                                               \
private:

// One property: a member `name_`, the getter `name()` and the setter.
#define PELLIX_PROPERTY(Type, name, setter)             \
private:                                                \
    Type name##_{};                                     \
                                                        \
public:                                                 \
    const Type& name() const { return name##_; }        \
    void setter(Type value) { name##_ = std::move(value); }

// In the source file: the record's table, chained to its superclass's.
#define PELLIX_FIELDS(Class, ...)                                                                      \
    const ::pellix::PellixFieldTable<Class::FieldBase>& Class::fields() {                              \
        static const ::pellix::PellixFieldTable<Class::FieldBase> table(&Class::Super::fields(),       \
                                                                        {__VA_ARGS__});                \
        return table;                                                                                  \
    }
