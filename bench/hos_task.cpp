// Object storage runtime: task continuations and aggregates, the disabled log
// call, and XML dictionaries of listing replies against raw expat.
#include <benchmark/benchmark.h>
#include <expat.h>

#include <string>
#include <vector>

#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "HOSSDK/HOSTask/HOSTask.h"
#include "HOSSDK/HOSTask/HOSTaskCompletionSource.h"
#include "HOSSDK/HOSXMLDictionaryParser.h"
#include "platform/Log.h"
#include "platform/XMLParser.h"
#include "Paired.h"

using namespace pellix;

// A continuation registered on a completed task runs inline at once.
static void BM_InlineContinuationOnCompletedTask(benchmark::State& state) {
    auto done = HOSTask::taskWithResult(1);
    for (auto _ : state) {
        auto t = done->continueWithBlock([](const HOSTaskPtr& p) -> std::any { return *p->resultAs<int>() + 1; });
        benchmark::DoNotOptimize(t);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InlineContinuationOnCompletedTask);

// Registered while pending, run inline by the completing thread.
static void BM_InlineContinuationOnPendingTask(benchmark::State& state) {
    for (auto _ : state) {
        HOSTaskCompletionSource source;
        auto t = source.task()->continueWithBlock([](const HOSTaskPtr&) -> std::any { return 2; });
        source.setResult(1);
        benchmark::DoNotOptimize(t);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InlineContinuationOnPendingTask);

// "All" over 10,000 pending tasks completed one by one.
static void BM_AllOf10000Tasks(benchmark::State& state) {
    constexpr int kTasks = 10000;
    for (auto _ : state) {
        std::vector<std::shared_ptr<HOSTaskCompletionSource>> sources;
        std::vector<HOSTaskPtr> tasks;
        sources.reserve(kTasks);
        tasks.reserve(kTasks);
        for (int i = 0; i < kTasks; ++i) {
            sources.push_back(std::make_shared<HOSTaskCompletionSource>());
            tasks.push_back(sources.back()->task());
        }
        auto all = HOSTask::taskForCompletionOfAllTasks(tasks);
        for (auto& s : sources) s->setResult(1);
        if (!all->isCompleted()) state.SkipWithError("aggregate did not complete");
    }
    state.SetItemsProcessed(state.iterations() * kTasks);
}
BENCHMARK(BM_AllOf10000Tasks)->Unit(benchmark::kMillisecond);

// The log call with the switch off: one relaxed atomic load, no formatting.
static void BM_DisabledLogCall(benchmark::State& state) {
    HOSLog::disableLog();
    int n = 0;
    for (auto _ : state) {
        HOS_LOG_DEBUG("request %d of %s", n, "bucket");
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_DisabledLogCall);

namespace {

std::string listingReply(int entries) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ListBucketResult xmlns=\"http://doc.example/2006-03-01\">"
        "<Name>pellix-images</Name><Prefix>photos/</Prefix><Marker></Marker><MaxKeys>" +
        std::to_string(entries) + "</MaxKeys><Delimiter></Delimiter><IsTruncated>false</IsTruncated>\n";
    for (int i = 0; i < entries; ++i) {
        xml += "  <Contents>\n    <Key>photos/2026/12/10/door-camera-" + std::to_string(100000 + i) +
               ".jpg</Key>\n    <LastModified>2026-12-10T12:00:00.000Z</LastModified>\n"
               "    <ETag>&quot;5B1D3C0A2F8E4D6B9A7C1E3F5D7B9A1C&quot;</ETag>\n    <Type>Normal</Type>\n"
               "    <Size>" +
               std::to_string(100000 + i * 7) +
               "</Size>\n    <StorageClass>Standard</StorageClass>\n    <Owner>\n      <ID>1283641064516515</ID>\n"
               "      <DisplayName>1283641064516515</DisplayName>\n    </Owner>\n  </Contents>\n";
    }
    return xml + "</ListBucketResult>\n";
}

void XMLCALL startEmpty(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL endEmpty(void*, const XML_Char*) {}
void XMLCALL textEmpty(void*, const XML_Char*, int) {}

// One parse by raw expat with handlers that do nothing.
bool rawExpatParse(const std::string& xml) {
    XML_Parser p = XML_ParserCreate("UTF-8");
    XML_SetElementHandler(p, startEmpty, endEmpty);
    XML_SetCharacterDataHandler(p, textEmpty);
    const bool ok = XML_Parse(p, xml.data(), static_cast<int>(xml.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(p);
    return ok;
}

// One parse into a dictionary, freed again, as a caller would.
bool dictionaryParse(const std::string& xml) {
    HOSXMLDictionaryParser parser;
    auto d = parser.dictionaryWithString(xml);
    benchmark::DoNotOptimize(d);
    return d.has_value();
}

}  // namespace

static void BM_RawExpatEmptyHandlers(benchmark::State& state) {
    const std::string xml = listingReply(static_cast<int>(state.range(0)));
    for (auto _ : state)
        if (!rawExpatParse(xml)) state.SkipWithError("expat failed");
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(xml.size()));
}
BENCHMARK(BM_RawExpatEmptyHandlers)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The platform's SAX parser with a delegate that does nothing (the share of
// the cost that is the platform's event delivery).
static void BM_PlatformSAXEmptyDelegate(benchmark::State& state) {
    const std::string xml = listingReply(static_cast<int>(state.range(0)));
    platform::XMLParserDelegate empty;
    for (auto _ : state) {
        platform::XMLParser parser(xml);
        parser.setDelegate(&empty);
        if (!parser.parse()) state.SkipWithError("parse failed");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(xml.size()));
}
BENCHMARK(BM_PlatformSAXEmptyDelegate)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

static void BM_XMLDictionary(benchmark::State& state) {
    platform::Log::setSink([](std::string_view) {});  // one system-log line per parse
    const std::string xml = listingReply(static_cast<int>(state.range(0)));
    for (auto _ : state)
        if (!dictionaryParse(xml)) state.SkipWithError("no dictionary");
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(xml.size()));
    platform::Log::setSink(nullptr);
}
BENCHMARK(BM_XMLDictionary)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The dictionary and raw expat in turn within each iteration, so that a
// change in the machine's speed during the run falls on both alike: the
// ratio to quote.
static void BM_XMLDictionaryPaired(benchmark::State& state) {
    platform::Log::setSink([](std::string_view) {});  // one system-log line per parse
    const std::string xml = listingReply(static_cast<int>(state.range(0)));
    pellix::bench::runPaired(
        state, [&] { return dictionaryParse(xml); }, [&] { return rawExpatParse(xml); });
    platform::Log::setSink(nullptr);
}
BENCHMARK(BM_XMLDictionaryPaired)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
