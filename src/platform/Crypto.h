// crypto: digests, HMAC, AES, secure random bytes and Base64 over OpenSSL 3.
//
// Every function reports failure: std::nullopt (or false) is returned and no
// partial or zero-filled buffer is ever handed out as a result. Keys and IVs
// of the wrong length are refused before OpenSSL sees them, so nothing is read
// past the caller's buffers.
//
// Thread-safety: the free functions are stateless and safe from any thread. A
// Hasher is one object with one owner: use it from one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/Value.h"

namespace pellix::platform::crypto {

// A borrowed run of bytes: the caller keeps the storage alive for the call.
class ByteView {
public:
    ByteView() = default;
    ByteView(const void* data, std::size_t size) : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}
    ByteView(const Bytes& b) : data_(b.data()), size_(b.size()) {}
    ByteView(std::span<const std::uint8_t> s) : data_(s.data()), size_(s.size()) {}
    ByteView(std::string_view s) : data_(reinterpret_cast<const std::uint8_t*>(s.data())), size_(s.size()) {}
    ByteView(const std::string& s) : ByteView(std::string_view(s)) {}
    ByteView(const char* s) : ByteView(std::string_view(s)) {}

    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// Brings OpenSSL up for the process without its exit-time cleanup; cheap
// after the first call. The library's own threads (the socket reactor, the
// worker pool) live until the process ends and may be inside OpenSSL while
// the exit handlers run: a cleanup then would free OpenSSL's locks and
// tables under them, and a host that quits during a transfer could crash
// on its way out. The first initialisation in a process decides, so this
// runs when the library is loaded, and the paths into OpenSSL (digests,
// ciphers, certificates, TLS) call it before their first OpenSSL call too.
void initialiseOpenSSL();

enum class Digest { MD5, SHA1, SHA256, SHA512 };

// Digest length in bytes: 16, 20, 32, 64.
std::size_t digestLength(Digest digest);

// One-shot digests; std::nullopt only when OpenSSL fails.
std::optional<Bytes> hash(Digest digest, ByteView data);
std::optional<Bytes> md5(ByteView data);
std::optional<Bytes> sha1(ByteView data);
std::optional<Bytes> sha256(ByteView data);

// Incremental digest. After finish() (or any failure) the Hasher is spent:
// further update() calls return false and finish() returns std::nullopt.
class Hasher {
public:
    explicit Hasher(Digest digest);
    ~Hasher();
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;
    Hasher(Hasher&&) noexcept;
    Hasher& operator=(Hasher&&) noexcept;

    bool update(ByteView data);
    std::optional<Bytes> finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// HMAC of data under key (any key length, empty included).
std::optional<Bytes> hmac(Digest digest, ByteView key, ByteView data);

enum class CipherMode { CBC, CFB128 };
enum class Padding { None, PKCS7 };

// AES in CBC or 128-bit CFB mode. The key length picks the variant: 16 bytes
// AES-128, 32 bytes AES-256; any other length is refused. The IV must be 16
// bytes; an empty IV means sixteen zero bytes (the platform's "no IV").
// CBC without padding needs input in whole 16-byte blocks (else refused);
// CBC with PKCS#7 pads on encryption and checks and strips the padding on
// decryption (bad padding fails). CFB128 is a stream mode: output length
// equals input length, and Padding::PKCS7 is refused with it.
std::optional<Bytes> aesEncrypt(CipherMode mode, Padding padding, ByteView key, ByteView iv, ByteView data);
std::optional<Bytes> aesDecrypt(CipherMode mode, Padding padding, ByteView key, ByteView iv, ByteView data);
// aesDecrypt without padding, the plain text written over the cipher text
// (for large inputs, where a second buffer costs more than the decryption);
// false when refused or failed, the bytes then undefined.
bool aesDecryptInPlace(CipherMode mode, ByteView key, ByteView iv, std::span<std::uint8_t> data);

// Bytes from the system's secure generator; std::nullopt if it fails.
std::optional<Bytes> randomBytes(std::size_t count);
// Fills out[0..count); false on failure (out is then zeroed, never used as output).
bool randomBytes(std::uint8_t* out, std::size_t count);

// Standard Base64 (RFC 4648 "+/" alphabet, "=" padding, no line breaks).
std::string base64Encode(ByteView data);

enum class Base64Decoding {
    // Only the alphabet and correct "=" padding (which may be left off
    // entirely); anything else fails.
    Strict,
    // Bytes outside the alphabet are skipped, as the platform does with its
    // ignore-unknown-characters option; padding may be missing.
    IgnoreUnknownCharacters,
};
// std::nullopt for text that is not Base64 under the chosen rule (including a
// dangling single character in the last group).
std::optional<Bytes> base64Decode(std::string_view text, Base64Decoding rule = Base64Decoding::Strict);

// Lower-case hex of bytes ("0a1b").
std::string hex(ByteView data);

}  // namespace pellix::platform::crypto
