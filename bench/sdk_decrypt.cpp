// Reading platform answers: decrypt-and-parse of 1 KB, 100 KB, 1 MB and 10 MB
// envelopes through PXJSONResponseSerializer, against the same work done the
// way a plain C++ caller would: OpenSSL (Base64 decode with EVP_DecodeBlock,
// AES-256-CBC decrypt with EVP, no padding) into buffers allocated per call,
// then nlohmann-json's DOM parser over the plain bytes, in the same run.
//
// Per size, BM_SerializerDecryptParse/<size> and BM_OpenSSLDecryptParse/<size>
// run one after the other, each with its minor page faults per call
// ("faults"). BM_DecryptParsePaired/<size> runs both alternately within each
// iteration, so a change in the machine's load falls on both alike; its
// counters are the CPU time per call of each side ("ours_us", "ref_us") and
// their quotient ("ratio", ours / reference). Quote both kinds of row: the
// paired one is the work itself, the separate ones what a caller pays in a
// loop of one side alone, page faults included. They differ where one side's
// allocations change the other's heap: memory the C library hands back to
// the system between calls, and the next call faults in again, shows only
// in the separate rows.
//
// Large answers cost mostly page faults and cache misses, whose price swings
// with what else runs: sizes from 1 MB on run for at least two seconds after
// a warm-up, and a repeated run
// (--benchmark_repetitions=5 --benchmark_report_aggregates_only=true) gives
// their spread. Also the signing of a 20-parameter request (BM_Sign20, time
// per request).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include <ctime>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CommonMethod/PellixCommonTypes.h"
#include "PellixDataManager/PellixNetServer/DataService/PXJSONResponseSerializer.h"
#include "PellixDataManager/PellixNetServer/DataService/PellixDataService.h"
#include "platform/HTTPURLResponse.h"
#include "Paired.h"

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

// Minor page faults of this thread so far.
long minorFaults() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return u.ru_minflt;
}

// One call of ours: the serializer's whole path from body to Value.
bool oursOnce(const PXJSONResponseSerializer& serializer, const Input& in, const TVResponseData& data) {
    platform::ErrorPtr error;
    auto object = serializer.responseObject(in.response, data, &error);
    benchmark::DoNotOptimize(object);
    return object.value() != nullptr;
}

// One call of the reference: OpenSSL then nlohmann's DOM, buffers per call.
bool referenceOnce(const Input& in, const std::string& k) {
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
    auto value =
        nlohmann::json::parse(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(size), nullptr, false);
    benchmark::DoNotOptimize(value);
    return !value.is_discarded();
}

std::unique_ptr<PXJSONResponseSerializer> makeSerializer() {
    auto serializer = std::make_unique<PXJSONResponseSerializer>(kDevice);
    serializer->setAcceptableStatusCodes(TVIndexSetWithRange(0, 600));
    return serializer;
}

void setFaults(benchmark::State& state, long before) {
    state.counters["faults"] = benchmark::Counter(static_cast<double>(minorFaults() - before),
                                                  benchmark::Counter::kAvgIterations);
}

void BM_SerializerDecryptParse(benchmark::State& state) {
    const Input& in = input(static_cast<std::size_t>(state.range(0)));
    const auto serializer = makeSerializer();
    const TVResponseData data = in.body;
    const long faults = minorFaults();
    for (auto _ : state) {
        if (!oursOnce(*serializer, in, data)) state.SkipWithError("no object");
    }
    setFaults(state, faults);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.body.size()));
}

void BM_OpenSSLDecryptParse(benchmark::State& state) {
    const Input& in = input(static_cast<std::size_t>(state.range(0)));
    const std::string k = key();
    const long faults = minorFaults();
    for (auto _ : state) {
        if (!referenceOnce(in, k)) state.SkipWithError("no object");
    }
    setFaults(state, faults);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.body.size()));
}

void BM_DecryptParsePaired(benchmark::State& state) {
    const Input& in = input(static_cast<std::size_t>(state.range(0)));
    const auto serializer = makeSerializer();
    const TVResponseData data = in.body;
    const std::string k = key();
    bench::runPaired(
        state, [&] { return oursOnce(*serializer, in, data); }, [&] { return referenceOnce(in, k); });
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

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    for (const std::int64_t size : {std::int64_t{1} << 10, std::int64_t{100} << 10, std::int64_t{1} << 20,
                                    std::int64_t{10} << 20}) {
        for (auto* b : {benchmark::RegisterBenchmark("BM_SerializerDecryptParse", BM_SerializerDecryptParse),
                        benchmark::RegisterBenchmark("BM_OpenSSLDecryptParse", BM_OpenSSLDecryptParse),
                        benchmark::RegisterBenchmark("BM_DecryptParsePaired", BM_DecryptParsePaired)}) {
            b->Arg(size)->Unit(benchmark::kMicrosecond);
            if (size >= (1 << 20)) b->MinTime(2.0)->MinWarmUpTime(0.5);
        }
    }
    benchmark::RegisterBenchmark("BM_Sign20", BM_Sign20)->Unit(benchmark::kMicrosecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
