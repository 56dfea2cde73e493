// Multipart streaming throughput: a file part of a multipart body read
// through TVMultipartBodyStream at 16 KiB and 64 KiB reads, against a plain
// read() loop over the same file in the same run.
//
// File size: PELLIX_BENCH_MULTIPART_BYTES (default 1 GiB); the file is made
// once in $TMPDIR (or /tmp) and removed at exit. Compare bytes_per_second of
// BM_MultipartStream/<size> with BM_PlainRead/<size>; BM_MultipartStreamPaired
// runs both in turn within each iteration and gives their ratio.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "TVNetworking/TVHTTPRequestSerializer.h"
#include "TVNetworking/TVStreamingMultipartFormData.h"
#include "Paired.h"

using namespace pellix;

namespace {

std::uint64_t fileSize() {
    const char* v = std::getenv("PELLIX_BENCH_MULTIPART_BYTES");
    return v ? std::strtoull(v, nullptr, 10) : (std::uint64_t(1) << 30);
}

struct BenchFile {
    std::string path;
    std::uint64_t size;
    BenchFile() : size(fileSize()) {
        const char* tmp = std::getenv("TMPDIR");
        path = std::string(tmp && *tmp ? tmp : "/tmp") + "/pellix-bench-multipart-XXXXXX";
        int fd = ::mkstemp(path.data());
        if (fd < 0) std::abort();
        std::vector<char> block(1 << 20);
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31 + 7);
        for (std::uint64_t done = 0; done < size;) {
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - done));
            if (::write(fd, block.data(), n) != static_cast<ssize_t>(n)) std::abort();
            done += n;
        }
        ::close(fd);
    }
    ~BenchFile() { ::unlink(path.c_str()); }
};

const BenchFile& benchFile() {
    static BenchFile file;
    return file;
}

// One whole read of the file with plain read() calls.
bool plainReadOnce(const BenchFile& file, std::vector<std::uint8_t>& buffer) {
    int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::uint64_t total = 0;
    ssize_t n;
    while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) total += static_cast<std::uint64_t>(n);
    ::close(fd);
    benchmark::DoNotOptimize(total);
    return n == 0 && total == file.size;
}

// One whole read of the body stream of a form with a field and the file.
bool multipartStreamOnce(const BenchFile& file, std::vector<std::uint8_t>& buffer) {
    platform::URLRequest request(*platform::URL::parse("http://127.0.0.1/upload"));
    TVStreamingMultipartFormData form(request, kTVUTF8StringEncoding);
    form.appendPartWithFormData(platform::Bytes{'1'}, "field");
    if (!form.appendPartWithFileURL(platform::URL::fileURL(file.path), "file", nullptr)) return false;
    auto stream = form.requestByFinalizingMultipartFormData().httpBodyStream();
    stream->open();
    std::uint64_t total = 0;
    std::int64_t n;
    while ((n = stream->read(buffer.data(), buffer.size())) > 0) total += static_cast<std::uint64_t>(n);
    stream->close();
    benchmark::DoNotOptimize(total);
    return n == 0 && total == static_cast<std::uint64_t>(stream->knownLength());
}

void BM_PlainRead(benchmark::State& state) {
    const BenchFile& file = benchFile();
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        if (!plainReadOnce(file, buffer)) state.SkipWithError("short read");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size));
}

void BM_MultipartStream(benchmark::State& state) {
    const BenchFile& file = benchFile();
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        if (!multipartStreamOnce(file, buffer)) state.SkipWithError("stream failed");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size));
}

// Both in turn within each iteration (bench/Paired.h): the ratio to quote
// (ours / plain read, CPU time per whole file).
void BM_MultipartStreamPaired(benchmark::State& state) {
    const BenchFile& file = benchFile();
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(state.range(0)));
    pellix::bench::runPaired(
        state, [&] { return multipartStreamOnce(file, buffer); }, [&] { return plainReadOnce(file, buffer); });
}

}  // namespace

// Interleaved so both see the same page-cache state.
BENCHMARK(BM_PlainRead)->Arg(16384)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_MultipartStream)->Arg(16384)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_PlainRead)->Arg(65536)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_MultipartStream)->Arg(65536)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_MultipartStreamPaired)->Arg(16384)->Arg(65536)->Unit(benchmark::kMillisecond)->MinTime(2);

BENCHMARK_MAIN();
