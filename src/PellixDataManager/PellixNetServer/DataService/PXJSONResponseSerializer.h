// PXJSONResponseSerializer: the JSON response serializer of platform answers,
// which arrive as Base64 text of AES-256-CBC ciphertext.
//
// Between validation and parsing the body is decrypted with this
// installation's key: the 32 ASCII bytes of the lower-case hex MD5 of the
// device UUID (the UUID the request header sends as "device_guid"), with a
// fixed 16-character IV used as its ASCII bytes. No padding is removed; every
// NUL and 0x08 of the plain text is dropped. A body that does not decrypt but
// begins with "{" is parsed as it stands (plain JSON answers).
//
// Outcomes of responseObject():
// - unacceptable content type (-1016), or any validation failure without an
//   error slot: nothing;
// - empty body or one space: nothing, no further error;
// - nothing to parse (the body neither decrypts nor begins with "{"):
//   nothing, the slot keeping the validation error, if any;
// - text that does not parse: nothing and the parse error, with the
//   validation error as its underlying error;
// - otherwise the parsed value (also for an unacceptable status code, whose
//   error stays in the slot).
// Never throws. The key is taken from the session store when the serializer
// is made; an instance is immutable afterwards and may serve any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "TVNetworking/TVJSONResponseSerializer.h"

namespace pellix {

class PXJSONResponseSerializer : public TVJSONResponseSerializer {
public:
    // IV of the platform's answers, its 16 characters used as they stand.
    static constexpr const char* kResponseIV = "7c3e9a1f5b2d8e46";
    // The JSON reading option parsing always uses (leaves as mutable text).
    static constexpr unsigned kReadingOptions = 2;

    static std::shared_ptr<PXJSONResponseSerializer> serializer();
    // Keyed for this installation's device UUID.
    PXJSONResponseSerializer();
    // Keyed for another device UUID (benchmarks, tests of foreign answers).
    explicit PXJSONResponseSerializer(const std::string& deviceUUID);

    // The decryption key: lower-case hex MD5 of the device UUID.
    const std::string& key() const { return key_; }

    // The plain text of an encrypted body, or nullopt when it does not
    // decrypt to UTF-8.
    std::optional<std::string> decrypt(std::string_view body) const;

    std::shared_ptr<TVHTTPResponseSerializer> copy() const override;
    TVResponseObject responseObject(const TVResponse& response, const TVResponseData& data,
                                    platform::ErrorPtr* error) const override;

private:
    // Decrypted text in a buffer of its own, sized once and left
    // uninitialised until written (answers run to megabytes).
    struct Plain {
        std::unique_ptr<std::uint8_t[]> bytes;
        std::size_t size = 0;
        std::string_view text() const { return {reinterpret_cast<const char*>(bytes.get()), size}; }
    };
    std::optional<Plain> decryptPlain(std::string_view body) const;

    std::string key_;
};

}  // namespace pellix
