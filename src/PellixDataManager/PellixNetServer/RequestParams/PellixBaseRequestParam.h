// PellixBaseRequestParam: base of every request-parameter record.
//
// A record holds one platform operation's parameters and answers the hooks
// the request pipeline asks when it sends it: path, method, response type,
// timeout and the parameter dictionary, plus isParamsComplete(), the check an
// operation makes before sending. Records declare their fields in a table
// (PellixRecordFields.h); from it the base builds the dictionary (the
// superclass's keys first, then every set field under its wire key) and the
// completeness check (the nearest class that declares required fields
// decides: each must be set and non-empty; none anywhere means complete).
//
// Declaring a record:
//
//   class PellixOwnerMobileParam : public PellixRootParam {
//       PELLIX_PARAM_RECORD(PellixOwnerMobileParam, PellixRootParam)
//       PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
//   public:
//       std::optional<std::string> buildRequestPath() const override { return "/sdkapi/v1/user/owner_mobile"; }
//   };
//   PELLIX_FIELDS(PellixOwnerMobileParam, pellixField("room_id", &Self::room_id_).required())
//
// A record with extra rules overrides the hook and builds on the base's
// answer: buildRequestParam() of PellixBaseRequestParam already holds every
// declared field of the whole class chain (defaults are added after it);
// isParamsComplete() may use fieldsSet() / fieldsFilled() for its own rule.
//
// On creation `domain` is the configured HTTPS base URL and `path` the
// record's own buildRequestPath(); the pipeline asks buildRequestPath()
// afresh when it sends. Hooks give the same answer for the same fields each
// time; each buildRequestParam() call returns a new dictionary. Records are
// plain value holders with one owner at a time (not synchronised).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <optional>
#include <string>

#include "PellixDataManager/PellixNetServer/PellixRecordFields.h"
#include "platform/Value.h"

namespace pellix {

class PellixBaseRequestParam {
public:
    using FieldBase = PellixBaseRequestParam;
    static constexpr const char* kClassName = "PellixBaseRequestParam";

    // buildRequestMethod() answers.
    static constexpr std::uint64_t kMethodGET = 0;
    static constexpr std::uint64_t kMethodPOST = 1;
    static constexpr std::uint64_t kMethodPUT = 2;
    // buildResponseType() answers: which response serializer reads the answer.
    static constexpr std::uint64_t kResponseJSON = 0;
    static constexpr std::uint64_t kResponseXML = 1;
    static constexpr std::uint64_t kResponseImage = 2;

    PellixBaseRequestParam();
    virtual ~PellixBaseRequestParam() = default;
    PellixBaseRequestParam(const PellixBaseRequestParam&) = delete;
    PellixBaseRequestParam& operator=(const PellixBaseRequestParam&) = delete;

    // Re-initialise with a path: domain from the configuration, the given path.
    void initWithPath(std::string path);
    // Domain as given; the path as given when non-empty, else buildRequestPath().
    void initWithDomain(std::string domain, std::string path);

    const PellixText& domain() const { return domain_; }
    void setDomain(PellixText domain) { domain_ = std::move(domain); }
    const PellixText& path() const { return path_; }
    void setPath(PellixText path) { path_ = std::move(path); }

    // The operation's path below `domain`; none here.
    virtual std::optional<std::string> buildRequestPath() const { return std::nullopt; }
    virtual std::uint64_t buildResponseType() const { return kResponseJSON; }
    virtual std::uint64_t buildRequestMethod() const { return kMethodGET; }
    // Declared for records; nothing in the SDK reads it.
    virtual std::uint64_t buildRequestType() const { return 0; }
    // The configured request timeout, in seconds.
    virtual float buildRequestTimeout() const;
    virtual platform::Dictionary buildRequestParam() const;
    virtual bool isParamsComplete() const;

    virtual const char* className() const { return kClassName; }
    static const PellixFieldTable<PellixBaseRequestParam>& fields();
    virtual const PellixFieldTable<PellixBaseRequestParam>& fieldTable() const { return fields(); }

protected:
    // For records whose completeness rule is not "the required fields": true
    // when each named field is set (fieldsSet) or set and non-empty (fieldsFilled).
    bool fieldsSet(std::initializer_list<std::string_view> names) const {
        return fieldTable().fieldsPresent(*this, names, false);
    }
    bool fieldsFilled(std::initializer_list<std::string_view> names) const {
        return fieldTable().fieldsPresent(*this, names, true);
    }

    // Run by each record's constructor, so the path stored at creation is the
    // most-derived record's.
    void captureCreationPath() { path_ = buildRequestPath(); }

private:
    PellixText domain_;
    PellixText path_;
};

}  // namespace pellix

// Inside a parameter record class: PELLIX_RECORD plus the constructor that
// stores the record's own path at creation.
#define PELLIX_PARAM_RECORD(Class, SuperClass) \
    PELLIX_RECORD(Class, SuperClass)           \
public:                                        \
    Class() { captureCreationPath(); }         \
                                               \
private:
