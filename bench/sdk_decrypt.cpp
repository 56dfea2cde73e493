// Reading platform answers: decrypt-and-parse of 1 KB, 100 KB, 1 MB and 10 MB
// envelopes through PXJSONResponseSerializer, against the same work done the
// way a plain C++ caller would: OpenSSL (Base64 decode with EVP_DecodeBlock,
// AES-256-CBC decrypt with EVP, no padding) into buffers allocated per call,
// then nlohmann-json's DOM parser over the plain bytes, in the same run. Compare BM_SerializerDecryptParse/<size> with
// BM_OpenSSLDecryptParse/<size>. Also the signing of a 20-parameter request
// (BM_Sign20, time per request).
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include <map>
#include <string>
#include <vector>

#include "CommonMethod/PellixCommonTypes.h"
#include "PellixDataManager/PellixNetServer/DataService/PXJSONResponseSerializer.h"
#include "PellixDataManager/PellixNetServer/DataService/PellixDataService.h"
#include "platform/HTTPURLResponse.h"

using namespace pellix;

namespace {

constexpr const char* kDevice = "6F1C2D3E-4A5B-4C6D-8E9F-0A1B2C3D4E5F";

// A JSON envelope of about `size` bytes (a list of room-like records).
std::string envelope(std::size_t size) {
    std::string data;
    for (int i = 0; data.size() + 200 < size; ++i) {
        if (!data.empty()) data += ',';
        data += R"({"room_id":")" + std::to_string(5000 + i) +
                R"(","room_name":"翠湖花园 1栋1单元)" + std::to_string(100 + i % 900) +
                R"(","dep_id":"201","is_owner":"1","topic":"app/room_id/)" + std::to_string(5000 + i) + R"("})";
    }
    return R"({"code":200,"message":"请求成功","data":[)" + data + "]}";
}

std::string key() { return PellixCommonTypes::md5Crypt16WithString(kDevice); }

// Base64 of AES-256-CBC(plain padded with NULs to a whole block).
std::string encrypt(std::string plain) {
    while (plain.size() % 16) plain.push_back('\0');
    const std::string k = key();
    std::vector<unsigned char> out(plain.size() + 16);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, reinterpret_cast<const unsigned char*>(k.data()),
                       reinterpret_cast<const unsigned char*>(PXJSONResponseSerializer::kResponseIV));
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    int n = 0, m = 0;
    EVP_EncryptUpdate(ctx, out.data(), &n, reinterpret_cast<const unsigned char*>(plain.data()),
                      static_cast<int>(plain.size()));
    EVP_EncryptFinal_ex(ctx, out.data() + n, &m);
    EVP_CIPHER_CTX_free(ctx);
    return *PellixCommonTypes::stringByEncodingData(platform::Bytes(out.begin(), out.begin() + n + m));
}

struct Input {
    platform::Bytes body;
    TVResponse response;
};

const Input& input(std::size_t size) {
    static std::map<std::size_t, Input> cache;
    auto it = cache.find(size);
    if (it != cache.end()) return it->second;
    const std::string text = encrypt(envelope(size));
    Input in{platform::Bytes(text.begin(), text.end()),
             std::make_shared<platform::HTTPURLResponse>(
                 platform::URL::parse("https://127.0.0.1/x").value(), 200, "HTTP/1.1",
                 platform::HTTPURLResponse::HeaderFields{{"Content-Type", "application/json; charset=utf-8"}})};
    return cache.emplace(size, std::move(in)).first->second;
}

void BM_SerializerDecryptParse(benchmark::State& state) {
    const Input& in = input(static_cast<std::size_t>(state.range(0)));
    PXJSONResponseSerializer serializer(kDevice);
    serializer.setAcceptableStatusCodes(TVIndexSetWithRange(0, 600));
    const TVResponseData data = in.body;
    for (auto _ : state) {
        platform::ErrorPtr error;
        auto object = serializer.responseObject(in.response, data, &error);
        if (!object.value()) state.SkipWithError("no object");
        benchmark::DoNotOptimize(object);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.body.size()));
}

void BM_OpenSSLDecryptParse(benchmark::State& state) {
    const Input& in = input(static_cast<std::size_t>(state.range(0)));
    const std::string k = key();
    for (auto _ : state) {
        std::vector<unsigned char> cipher(in.body.size());
        std::vector<unsigned char> plain(in.body.size() + 16);
        int len = EVP_DecodeBlock(cipher.data(), in.body.data(), static_cast<int>(in.body.size()));
        // EVP_DecodeBlock counts "=" padding as zero bytes.
        std::size_t pads = 0;
        for (std::size_t i = in.body.size(); i > 0 && in.body[i - 1] == '='; --i) ++pads;
        len -= static_cast<int>(pads);
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        EVP_DecryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, reinterpret_cast<const unsigned char*>(k.data()),
                           reinterpret_cast<const unsigned char*>(PXJSONResponseSerializer::kResponseIV));
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        int n = 0, m = 0;
        EVP_DecryptUpdate(ctx, plain.data(), &n, cipher.data(), len);
        EVP_DecryptFinal_ex(ctx, plain.data() + n, &m);
        EVP_CIPHER_CTX_free(ctx);
        std::size_t size = static_cast<std::size_t>(n + m);
        while (size > 0 && plain[size - 1] == 0) --size;
        auto value = nlohmann::json::parse(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(size), nullptr,
                                           false);
        if (value.is_discarded()) state.SkipWithError("no object");
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.body.size()));
}

void BM_Sign20(benchmark::State& state) {
    platform::Dictionary params;
    for (int i = 0; i < 20; ++i) {
        params.set("param_" + std::to_string(i), platform::Value(" value " + std::to_string(i * 7919) + " "));
    }
    const platform::Value value(params);
    for (auto _ : state) {
        auto merged = PellixDataService::handleParametersSHA1(value);
        benchmark::DoNotOptimize(merged);
    }
}

}  // namespace

BENCHMARK(BM_SerializerDecryptParse)->Arg(1 << 10)->Arg(100 << 10)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenSSLDecryptParse)->Arg(1 << 10)->Arg(100 << 10)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Sign20)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
