#include "platform/Crypto.h"

#include <climits>
#include <cstring>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>

namespace pellix::platform::crypto {

void initialiseOpenSSL() {
    // The SSL call also brings up libcrypto with the defaults it would get
    // on first use (configuration, ciphers, digests, error strings).
    [[maybe_unused]] static const bool initialised = OPENSSL_init_ssl(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;
}

namespace {

// At load time, ahead of any OpenSSL call a host or another library makes
// later, so that none of them registers the cleanup first.
[[maybe_unused]] const bool kInitialisedAtLoad = (initialiseOpenSSL(), true);

const EVP_MD* md(Digest digest) {
    initialiseOpenSSL();
    switch (digest) {
    case Digest::MD5: return EVP_md5();
    case Digest::SHA1: return EVP_sha1();
    case Digest::SHA256: return EVP_sha256();
    case Digest::SHA512: return EVP_sha512();
    }
    return nullptr;
}

struct MdCtxDeleter {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct CipherCtxDeleter {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
struct MacDeleter {
    void operator()(EVP_MAC* m) const { EVP_MAC_free(m); }
};
struct MacCtxDeleter {
    void operator()(EVP_MAC_CTX* c) const { EVP_MAC_CTX_free(c); }
};

// OpenSSL's update calls take int lengths; feed large inputs in slices.
constexpr std::size_t kSlice = 1u << 30;

}  // namespace

std::size_t digestLength(Digest digest) {
    switch (digest) {
    case Digest::MD5: return 16;
    case Digest::SHA1: return 20;
    case Digest::SHA256: return 32;
    case Digest::SHA512: return 64;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Digests

struct Hasher::State {
    std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> ctx;
    bool ok = false;
};

Hasher::Hasher(Digest digest) : state_(std::make_unique<State>()) {
    state_->ctx.reset(EVP_MD_CTX_new());
    state_->ok = state_->ctx && EVP_DigestInit_ex(state_->ctx.get(), md(digest), nullptr) == 1;
}

Hasher::~Hasher() = default;
Hasher::Hasher(Hasher&&) noexcept = default;
Hasher& Hasher::operator=(Hasher&&) noexcept = default;

bool Hasher::update(ByteView data) {
    if (!state_ || !state_->ok) return false;
    if (data.size() > 0 && EVP_DigestUpdate(state_->ctx.get(), data.data(), data.size()) != 1) state_->ok = false;
    return state_->ok;
}

std::optional<Bytes> Hasher::finish() {
    if (!state_ || !state_->ok) return std::nullopt;
    state_->ok = false;  // spent either way
    Bytes out(static_cast<std::size_t>(EVP_MAX_MD_SIZE));
    unsigned int len = 0;
    if (EVP_DigestFinal_ex(state_->ctx.get(), out.data(), &len) != 1) return std::nullopt;
    out.resize(len);
    return out;
}

std::optional<Bytes> hash(Digest digest, ByteView data) {
    Hasher h(digest);
    if (!h.update(data)) return std::nullopt;
    return h.finish();
}

std::optional<Bytes> md5(ByteView data) { return hash(Digest::MD5, data); }
std::optional<Bytes> sha1(ByteView data) { return hash(Digest::SHA1, data); }
std::optional<Bytes> sha256(ByteView data) { return hash(Digest::SHA256, data); }

// ---------------------------------------------------------------------------
// HMAC

std::optional<Bytes> hmac(Digest digest, ByteView key, ByteView data) {
    initialiseOpenSSL();
    std::unique_ptr<EVP_MAC, MacDeleter> mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
    if (!mac) return std::nullopt;
    std::unique_ptr<EVP_MAC_CTX, MacCtxDeleter> ctx(EVP_MAC_CTX_new(mac.get()));
    if (!ctx) return std::nullopt;
    char name[16];
    std::strncpy(name, EVP_MD_get0_name(md(digest)), sizeof name - 1);
    name[sizeof name - 1] = '\0';
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string("digest", name, 0), OSSL_PARAM_construct_end()};
    // A zero-length key is legal HMAC; OpenSSL wants a non-null pointer for it.
    static const std::uint8_t kEmpty[1] = {0};
    const std::uint8_t* keyData = key.size() ? key.data() : kEmpty;
    if (EVP_MAC_init(ctx.get(), keyData, key.size(), params) != 1) return std::nullopt;
    if (data.size() > 0 && EVP_MAC_update(ctx.get(), data.data(), data.size()) != 1) return std::nullopt;
    Bytes out(static_cast<std::size_t>(EVP_MAX_MD_SIZE));
    std::size_t len = 0;
    if (EVP_MAC_final(ctx.get(), out.data(), &len, out.size()) != 1) return std::nullopt;
    out.resize(len);
    return out;
}

// ---------------------------------------------------------------------------
// AES

namespace {

const EVP_CIPHER* aesCipher(CipherMode mode, std::size_t keyLength) {
    if (keyLength == 16) return mode == CipherMode::CBC ? EVP_aes_128_cbc() : EVP_aes_128_cfb128();
    if (keyLength == 32) return mode == CipherMode::CBC ? EVP_aes_256_cbc() : EVP_aes_256_cfb128();
    return nullptr;
}

// The context for one run, or nullptr when the arguments are refused.
std::unique_ptr<EVP_CIPHER_CTX, CipherCtxDeleter> aesContext(bool encrypt, CipherMode mode, Padding padding,
                                                             ByteView key, ByteView iv, std::size_t size) {
    initialiseOpenSSL();
    const EVP_CIPHER* cipher = aesCipher(mode, key.size());
    if (!cipher) return nullptr;
    if (!iv.empty() && iv.size() != 16) return nullptr;
    if (mode == CipherMode::CFB128 && padding == Padding::PKCS7) return nullptr;
    if (mode == CipherMode::CBC && (padding == Padding::None || !encrypt) && size % 16 != 0) return nullptr;
    if (mode == CipherMode::CBC && !encrypt && padding == Padding::PKCS7 && size == 0) return nullptr;

    static const std::uint8_t kZeroIV[16] = {};
    std::unique_ptr<EVP_CIPHER_CTX, CipherCtxDeleter> ctx(EVP_CIPHER_CTX_new());
    if (!ctx) return nullptr;
    if (EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(), iv.empty() ? kZeroIV : iv.data(), encrypt ? 1 : 0) !=
        1)
        return nullptr;
    if (EVP_CIPHER_CTX_set_padding(ctx.get(), padding == Padding::PKCS7 ? 1 : 0) != 1) return nullptr;
    return ctx;
}

// Runs data[0..size) through the context into out (which may be data itself
// when nothing is padded); the bytes written, or nullopt on failure.
std::optional<std::size_t> aesUpdate(EVP_CIPHER_CTX* ctx, const std::uint8_t* data, std::size_t size,
                                     std::uint8_t* out) {
    std::size_t written = 0;
    std::size_t offset = 0;
    while (offset < size) {
        std::size_t n = std::min(kSlice, size - offset);
        int produced = 0;
        if (EVP_CipherUpdate(ctx, out + written, &produced, data + offset, static_cast<int>(n)) != 1)
            return std::nullopt;
        written += static_cast<std::size_t>(produced);
        offset += n;
    }
    int tail = 0;
    // Fails on bad PKCS#7 padding when decrypting.
    if (EVP_CipherFinal_ex(ctx, out + written, &tail) != 1) return std::nullopt;
    return written + static_cast<std::size_t>(tail);
}

std::optional<Bytes> aesRun(bool encrypt, CipherMode mode, Padding padding, ByteView key, ByteView iv,
                            ByteView data) {
    auto ctx = aesContext(encrypt, mode, padding, key, iv, data.size());
    if (!ctx) return std::nullopt;
    Bytes out(data.size() + 16);
    auto written = aesUpdate(ctx.get(), data.data(), data.size(), out.data());
    if (!written) return std::nullopt;
    out.resize(*written);
    return out;
}

}  // namespace

std::optional<Bytes> aesEncrypt(CipherMode mode, Padding padding, ByteView key, ByteView iv, ByteView data) {
    return aesRun(true, mode, padding, key, iv, data);
}

std::optional<Bytes> aesDecrypt(CipherMode mode, Padding padding, ByteView key, ByteView iv, ByteView data) {
    return aesRun(false, mode, padding, key, iv, data);
}

bool aesDecryptInPlace(CipherMode mode, ByteView key, ByteView iv, std::span<std::uint8_t> data) {
    auto ctx = aesContext(false, mode, Padding::None, key, iv, data.size());
    // Without padding the output is exactly as long as the input, so it can
    // take the input's place block by block.
    return ctx && aesUpdate(ctx.get(), data.data(), data.size(), data.data()).has_value();
}

// ---------------------------------------------------------------------------
// Random

bool randomBytes(std::uint8_t* out, std::size_t count) {
    initialiseOpenSSL();
    std::size_t offset = 0;
    while (offset < count) {
        std::size_t n = std::min<std::size_t>(count - offset, INT_MAX);
        if (RAND_bytes(out + offset, static_cast<int>(n)) != 1) {
            std::memset(out, 0, count);
            return false;
        }
        offset += n;
    }
    return true;
}

std::optional<Bytes> randomBytes(std::size_t count) {
    Bytes out(count);
    if (count > 0 && !randomBytes(out.data(), count)) return std::nullopt;
    return out;
}

// ---------------------------------------------------------------------------
// Base64

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::string base64Encode(ByteView data) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    const std::uint8_t* p = data.data();
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        std::uint32_t v = (std::uint32_t(p[i]) << 16) | (std::uint32_t(p[i + 1]) << 8) | p[i + 2];
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    std::size_t rest = data.size() - i;
    if (rest) {
        std::uint32_t v = std::uint32_t(p[i]) << 16;
        if (rest == 2) v |= std::uint32_t(p[i + 1]) << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<Bytes> base64Decode(std::string_view text, Base64Decoding rule) {
    // Gather the sextets; "=" may only close the text.
    std::vector<std::uint8_t> values;
    values.reserve(text.size());
    std::size_t padding = 0;
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '=') {
            ++padding;
            continue;
        }
        int v = sextet(c);
        if (v < 0) {
            if (rule == Base64Decoding::IgnoreUnknownCharacters) continue;
            return std::nullopt;
        }
        if (padding > 0) return std::nullopt;  // data after padding
        values.push_back(static_cast<std::uint8_t>(v));
    }
    std::size_t rem = values.size() % 4;
    if (rem == 1) return std::nullopt;
    if (rule == Base64Decoding::Strict && padding > 0 && (rem == 0 || padding != 4 - rem)) return std::nullopt;
    if (padding > 2) return std::nullopt;

    Bytes out;
    out.reserve(values.size() / 4 * 3 + 2);
    std::size_t i = 0;
    for (; i + 4 <= values.size(); i += 4) {
        std::uint32_t v = (std::uint32_t(values[i]) << 18) | (std::uint32_t(values[i + 1]) << 12) |
                          (std::uint32_t(values[i + 2]) << 6) | values[i + 3];
        out.push_back(static_cast<std::uint8_t>(v >> 16));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
        out.push_back(static_cast<std::uint8_t>(v));
    }
    if (rem >= 2) {
        std::uint32_t v = (std::uint32_t(values[i]) << 18) | (std::uint32_t(values[i + 1]) << 12);
        if (rem == 3) v |= std::uint32_t(values[i + 2]) << 6;
        // Leftover bits must be zero in canonical Base64.
        if (rule == Base64Decoding::Strict && (rem == 2 ? (v & 0xFFFF) : (v & 0xFF)) != 0) return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(v >> 16));
        if (rem == 3) out.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    return out;
}

std::string hex(ByteView data) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(data.size() * 2);
    for (std::size_t i = 0; i < data.size(); ++i) {
        out += digits[data.data()[i] >> 4];
        out += digits[data.data()[i] & 0xf];
    }
    return out;
}

}  // namespace pellix::platform::crypto
