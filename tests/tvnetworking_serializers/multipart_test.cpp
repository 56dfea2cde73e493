// Multipart bodies: layout and lengths, an independent parse by Python's
// email package, read sizes, copies, throttling, and the failures a part's
// content can cause.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <future>
#include <random>
#include <regex>
#include <thread>

#include "TVNetworking/TVHTTPRequestSerializer.h"
#include "TVNetworking/TVContentTypeForPathExtension.h"
#include "TVNetworking/TVStreamingMultipartFormData.h"
#include "platform/JSON.h"
#include "platform/OutputStream.h"
#include "platform/RunLoop.h"
#include "support/TestSupport.h"

namespace pellix {
namespace {

using platform::Bytes;
using platform::Dictionary;
using platform::ErrorPtr;
using platform::InputStream;
using platform::URL;
using platform::URLRequest;
using platform::Value;

Bytes randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& c : b) c = static_cast<std::uint8_t>(rng());
    return b;
}

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::string textOf(const Bytes& b) { return std::string(b.begin(), b.end()); }

// Reads a stream to its end in pieces of `chunk`; fails the test on -1.
Bytes drain(InputStream& stream, std::size_t chunk, ErrorPtr* error = nullptr) {
    stream.open();
    Bytes out;
    std::vector<std::uint8_t> buffer(chunk);
    for (;;) {
        std::int64_t n = stream.read(buffer.data(), chunk);
        if (n < 0) {
            if (error) *error = stream.streamError();
            else ADD_FAILURE() << "stream failed";
            break;
        }
        if (n == 0) break;
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
    stream.close();
    return out;
}

// The body as Python's email package sees it.
Value parseWithPython(const Bytes& body, const std::string& contentType) {
    test::TempDir dir;
    test::writeFile(dir.file("body"), textOf(body));
    std::string script = test::sourceDir() + "/tests/tvnetworking_serializers/multipart_parse.py";
    std::string cmd = "/usr/bin/python3 " + script + " " + dir.file("body") + " '" + contentType + "' > " + dir.file("out.json");
    EXPECT_EQ(test::run(cmd), 0);
    auto v = platform::JSON::parse(test::readFile(dir.file("out.json")));
    EXPECT_TRUE(v);
    return v ? *v : Value();
}

Bytes hexBytes(const std::string& hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

class TVMultipartTest : public ::testing::Test {
protected:
    test::TempDir dir;
    std::shared_ptr<TVHTTPRequestSerializer> serializer = TVHTTPRequestSerializer::serializer();

    std::string writeFile(const std::string& name, const Bytes& content) {
        std::string path = dir.file(name);
        test::writeFile(path, textOf(content));
        return path;
    }
};

TEST_F(TVMultipartTest, PythonParsesFieldsAndFilesBack) {
    const Bytes image = randomBytes(100000, 1);
    // Content that looks like boundaries and line ends must pass untouched.
    Bytes tricky = bytesOf("\r\n--Boundary+0000000000000000\r\n--\r\n\r\n");
    const Bytes fileContent = randomBytes(70000, 2);
    const std::string filePath = writeFile("photo.png", fileContent);
    const Bytes streamed = randomBytes(5000, 3);

    ErrorPtr error;
    auto request = serializer->multipartFormRequestWithMethod(
        "POST", "http://h.test/upload",
        Dictionary{{"b", 2}, {"a", "门禁 1"}, {"n", nullptr}, {"raw", Bytes{0, 1, 2}}, {"user", Dictionary{{"id", 7}}}},
        [&](TVMultipartFormData& form) {
            form.appendPartWithFileData(image, "image", "id card.jpg", "image/jpeg");
            form.appendPartWithFileData(tricky, "tricky", "t.bin", "application/octet-stream");
            ErrorPtr e;
            EXPECT_TRUE(form.appendPartWithFileURL(URL::fileURL(filePath), "file", &e));
            form.appendPartWithInputStream(InputStream::withData(streamed), "stream", "s.dat", 5000, "application/x-s");
        },
        &error);
    ASSERT_TRUE(request);
    auto contentType = request->valueForHTTPHeaderField("Content-Type");
    ASSERT_TRUE(contentType);
    ASSERT_TRUE(request->httpBodyStream());
    EXPECT_FALSE(request->httpBody());

    Bytes body = drain(*request->httpBodyStream(), 65536);
    EXPECT_EQ(request->valueForHTTPHeaderField("Content-Length"), std::to_string(body.size()));
    EXPECT_EQ(request->httpBodyStream()->knownLength(), static_cast<std::int64_t>(body.size()));

    Value parsed = parseWithPython(body, *contentType);
    EXPECT_TRUE(parsed.get("multipart")->asBool());
    EXPECT_TRUE(parsed.get("defects")->asArray().empty()) << parsed.description();
    const auto& parts = parsed.get("parts")->asArray();
    struct Expected {
        const char* name;
        const char* filename;  // nullptr: a plain field
        const char* type;
        Bytes data;
    };
    const Expected expected[] = {
        {"a", nullptr, nullptr, bytesOf("门禁 1")},
        {"b", nullptr, nullptr, bytesOf("2")},
        {"n", nullptr, nullptr, {}},
        {"raw", nullptr, nullptr, Bytes{0, 1, 2}},
        {"user[id]", nullptr, nullptr, bytesOf("7")},
        {"image", "id card.jpg", "image/jpeg", image},
        {"tricky", "t.bin", "application/octet-stream", tricky},
        {"file", "photo.png", "image/png", fileContent},
        {"stream", "s.dat", "application/x-s", streamed},
    };
    ASSERT_EQ(parts.size(), std::size(expected));
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const Expected& e = expected[i];
        EXPECT_EQ(parts[i].get("name")->asString(), e.name) << i;
        if (e.filename) {
            EXPECT_EQ(parts[i].get("filename")->asString(), e.filename) << i;
        } else {
            EXPECT_TRUE(parts[i].get("filename")->isNull()) << i;
        }
        if (e.type) {
            EXPECT_EQ(parts[i].get("type")->asString(), e.type) << i;
        }
        EXPECT_EQ(hexBytes(parts[i].get("data")->asString()), e.data) << e.name;
    }
}

TEST_F(TVMultipartTest, ExactLayoutOfOneField) {
    URLRequest plain(*URL::parse("http://h.test/"));
    TVStreamingMultipartFormData form(plain, kTVUTF8StringEncoding);
    form.appendPartWithFormData(bytesOf("1"), "x");
    URLRequest request = form.requestByFinalizingMultipartFormData();
    const std::string b = form.boundary();
    const std::string expected = "--" + b + "\r\nContent-Disposition: form-data; name=\"x\"\r\n\r\n1\r\n--" + b + "--\r\n";
    EXPECT_EQ(textOf(drain(*request.httpBodyStream(), 4096)), expected);
    EXPECT_EQ(request.valueForHTTPHeaderField("Content-Type"), "multipart/form-data; boundary=" + b);
    EXPECT_EQ(request.valueForHTTPHeaderField("Content-Length"), std::to_string(expected.size()));
}

TEST_F(TVMultipartTest, ReadSizesGiveIdenticalBodies) {
    const Bytes big = randomBytes(200000, 4);
    auto request = serializer->multipartFormRequestWithMethod(
        "PUT", "http://h.test/", Dictionary{{"k", "v"}},
        [&](TVMultipartFormData& form) {
            form.appendPartWithFileData(big, "big", "big.bin", "application/octet-stream");
            form.appendPartWithFormData(bytesOf("tail"), "last");
        },
        nullptr);
    ASSERT_TRUE(request);
    auto stream = request->httpBodyStream();
    Bytes large = drain(*stream->copy(), 65536);
    Bytes tiny = drain(*stream->copy(), 1);
    Bytes odd = drain(*stream->copy(), 7);
    EXPECT_EQ(large.size(), static_cast<std::size_t>(stream->knownLength()));
    EXPECT_EQ(tiny, large);
    EXPECT_EQ(odd, large);
    // The final boundary arrives even when the previous read filled up just
    // before it.
    const std::string text = textOf(large);
    const std::string finalBoundary = "\r\n--" + text.substr(2, text.find("\r\n") - 2) + "--\r\n";
    ASSERT_GT(large.size(), finalBoundary.size());
    EXPECT_EQ(text.substr(text.size() - finalBoundary.size()), finalBoundary);
    auto copy = stream->copy();
    copy->open();
    std::vector<std::uint8_t> buffer(large.size() - finalBoundary.size());
    Bytes split;
    std::int64_t n;
    while (split.size() < buffer.size() && (n = copy->read(buffer.data(), buffer.size() - split.size())) > 0)
        split.insert(split.end(), buffer.begin(), buffer.begin() + n);
    std::uint8_t rest[256];
    while ((n = copy->read(rest, sizeof rest)) > 0) split.insert(split.end(), rest, rest + n);
    EXPECT_EQ(split, large);
}

TEST_F(TVMultipartTest, NoPartsLeavesThePlainRequest) {
    auto request = serializer->multipartFormRequestWithMethod("POST", "http://h.test/", Value(), nullptr, nullptr);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->valueForHTTPHeaderField("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(request->httpBody(), Bytes());
    EXPECT_FALSE(request->httpBodyStream());
    EXPECT_FALSE(request->valueForHTTPHeaderField("Content-Length"));
    for (const char* method : {"GET", "HEAD"}) {
        EXPECT_THROW(serializer->multipartFormRequestWithMethod(method, "http://h.test/", Value(), nullptr, nullptr),
                     platform::Exception);
    }
}

TEST_F(TVMultipartTest, BoundariesAreRandomAndWellFormed) {
    URLRequest plain(*URL::parse("http://h.test/"));
    TVStreamingMultipartFormData a(plain, kTVUTF8StringEncoding), b(plain, kTVUTF8StringEncoding);
    const std::regex shape("Boundary\\+[0-9A-F]{16}");
    EXPECT_TRUE(std::regex_match(a.boundary(), shape)) << a.boundary();
    EXPECT_TRUE(std::regex_match(b.boundary(), shape)) << b.boundary();
    EXPECT_NE(a.boundary(), b.boundary());
}

TEST_F(TVMultipartTest, FilePartErrorsAndTypes) {
    URLRequest plain(*URL::parse("http://h.test/"));
    TVStreamingMultipartFormData form(plain, kTVUTF8StringEncoding);
    struct Case {
        URL url;
        const char* reason;
    };
    const Case cases[] = {{URL::fileURL(dir.file("missing.png")), "File URL not reachable."},
                          {*URL::parse("https://h.test/a.png"), "Expected URL to be a file URL"}};
    for (const Case& c : cases) {
        ErrorPtr error;
        EXPECT_FALSE(form.appendPartWithFileURL(c.url, "f", &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain(), TVURLRequestSerializationErrorDomain);
        EXPECT_EQ(error->code(), -1000);
        EXPECT_EQ(error->userInfo().find(platform::Error::kLocalizedFailureReasonErrorKey)->asString(), c.reason);
    }
    EXPECT_TRUE(form.bodyStream()->isEmpty());

    const std::pair<const char*, const char*> types[] = {{"png", "image/png"}, {"JPG", "image/jpeg"},
                                                         {"json", "application/json"}, {"zzqq", "application/octet-stream"},
                                                         {"", "application/octet-stream"}};
    for (const auto& [ext, type] : types) EXPECT_EQ(TVContentTypeForPathExtension(ext), type) << ext;
}

TEST_F(TVMultipartTest, PacketSizeCapsEveryRead) {
    URLRequest plain(*URL::parse("http://h.test/"));
    TVStreamingMultipartFormData form(plain, kTVUTF8StringEncoding);
    form.appendPartWithFileData(randomBytes(100000, 5), "f", "f.bin", "application/octet-stream");
    form.throttleBandwidthWithPacketSize(kAFUploadStream3GSuggestedPacketSize, 0);
    auto stream = form.requestByFinalizingMultipartFormData().httpBodyStream();
    stream->open();
    std::vector<std::uint8_t> buffer(1 << 20);
    std::int64_t n, total = 0;
    while ((n = stream->read(buffer.data(), buffer.size())) > 0) {
        EXPECT_LE(n, 16384);
        total += n;
    }
    EXPECT_EQ(n, 0);
    EXPECT_EQ(total, stream->knownLength());
}

TEST_F(TVMultipartTest, DelayPausesTheReadingThreadAfterEachPartRead) {
    URLRequest plain(*URL::parse("http://h.test/"));
    TVStreamingMultipartFormData form(plain, kTVUTF8StringEncoding);
    for (const char* name : {"a", "b", "c"}) form.appendPartWithFormData(bytesOf("v"), name);
    form.throttleBandwidthWithPacketSize(1 << 20, 0.05);
    auto stream = form.requestByFinalizingMultipartFormData().httpBodyStream();
    stream->open();
    std::uint8_t buffer[4096];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(stream->read(buffer, sizeof buffer), stream->knownLength());  // three part reads in one call
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
}

TEST_F(TVMultipartTest, CopyAfterPartialReadStartsOver) {
    const std::string path = writeFile("f.bin", randomBytes(30000, 6));
    URLRequest plain(*URL::parse("http://h.test/"));
    TVStreamingMultipartFormData form(plain, kTVUTF8StringEncoding);
    form.appendPartWithFormData(bytesOf("v"), "k");
    ASSERT_TRUE(form.appendPartWithFileURL(URL::fileURL(path), "f", nullptr));
    auto stream = form.requestByFinalizingMultipartFormData().httpBodyStream();
    Bytes whole = drain(*stream->copy(), 4096);
    stream->open();
    std::uint8_t buffer[1000];
    ASSERT_EQ(stream->read(buffer, sizeof buffer), 1000);
    EXPECT_EQ(drain(*stream->copy(), 4096), whole);
}

// --- content that does not match its declared length ------------------------

struct FailureCase {
    const char* name;
    std::function<void(TVMultipartFormData&, const std::string& path)> append;
    std::function<void(const std::string& path)> afterBuild;
};

TEST_F(TVMultipartTest, BadContentFailsTheStreamInsteadOfEndingIt) {
    const FailureCase cases[] = {
        {"file removed after it was appended",
         [](TVMultipartFormData& f, const std::string& p) { ASSERT_TRUE(f.appendPartWithFileURL(URL::fileURL(p), "f", nullptr)); },
         [](const std::string& p) { ::unlink(p.c_str()); }},
        {"file shrank after it was appended",
         [](TVMultipartFormData& f, const std::string& p) { ASSERT_TRUE(f.appendPartWithFileURL(URL::fileURL(p), "f", nullptr)); },
         [](const std::string& p) { ASSERT_EQ(::truncate(p.c_str(), 100), 0); }},
        {"file grew after it was appended",
         [](TVMultipartFormData& f, const std::string& p) { ASSERT_TRUE(f.appendPartWithFileURL(URL::fileURL(p), "f", nullptr)); },
         [](const std::string& p) { std::ofstream(p, std::ios::app) << "more"; }},
        {"directory instead of a file",
         [](TVMultipartFormData& f, const std::string& p) {
             ::unlink(p.c_str());
             ::mkdir(p.c_str(), 0700);
             ASSERT_TRUE(f.appendPartWithFileURL(URL::fileURL(p), "f", nullptr));
         },
         [](const std::string&) {}},
        {"stream shorter than declared",
         [](TVMultipartFormData& f, const std::string&) {
             f.appendPartWithInputStream(InputStream::withData(Bytes(10, 'x')), "s", "s", 20, "text/plain");
         },
         [](const std::string&) {}},
        {"stream longer than declared",
         [](TVMultipartFormData& f, const std::string&) {
             f.appendPartWithInputStream(InputStream::withData(Bytes(30, 'x')), "s", "s", 20, "text/plain");
         },
         [](const std::string&) {}},
        {"stream that cannot open",
         [this](TVMultipartFormData& f, const std::string&) {
             f.appendPartWithInputStream(InputStream::withFile(dir.file("nowhere")), "s", "s", 20, "text/plain");
         },
         [](const std::string&) {}},
    };
    int index = 0;
    for (const FailureCase& c : cases) {
        for (std::size_t chunk : {std::size_t(1), std::size_t(65536)}) {
            const std::string path = writeFile("content" + std::to_string(index++), randomBytes(5000, 7));
            URLRequest plain(*URL::parse("http://h.test/"));
            TVStreamingMultipartFormData form(plain, kTVUTF8StringEncoding);
            form.appendPartWithFormData(bytesOf("before"), "a");
            c.append(form, path);
            form.appendPartWithFormData(bytesOf("after"), "z");
            auto stream = form.requestByFinalizingMultipartFormData().httpBodyStream();
            c.afterBuild(path);
            ErrorPtr error;
            Bytes body = drain(*stream, chunk, &error);
            EXPECT_TRUE(error) << c.name << " (reads of " << chunk << ")";
            EXPECT_EQ(stream->streamStatus(), InputStream::Status::Error) << c.name;
            EXPECT_LT(body.size(), static_cast<std::size_t>(stream->knownLength())) << c.name;
        }
    }
}

TEST_F(TVMultipartTest, NamesCannotBreakOutOfTheirHeaderLine) {
    auto request = serializer->multipartFormRequestWithMethod(
        "POST", "http://h.test/", Dictionary{{"evil\"\r\nX-Injected: 1", "v"}},
        [](TVMultipartFormData& form) { form.appendPartWithFileData(bytesOf("data"), "f", "a\"b\r\n.txt", "text/plain"); },
        nullptr);
    ASSERT_TRUE(request);
    Bytes body = drain(*request->httpBodyStream(), 4096);
    EXPECT_EQ(textOf(body).find("\r\nX-Injected"), std::string::npos);
    Value parsed = parseWithPython(body, *request->valueForHTTPHeaderField("Content-Type"));
    const auto& parts = parsed.get("parts")->asArray();
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].get("name")->asString(), "evil%22%0D%0AX-Injected: 1");
    EXPECT_EQ(parts[0].get("headers")->asInt(), 1);
    EXPECT_EQ(parts[1].get("filename")->asString(), "a%22b%0D%0A.txt");
    EXPECT_EQ(hexBytes(parts[1].get("data")->asString()), bytesOf("data"));
}

TEST_F(TVMultipartTest, StreamsWithoutTheMainThread) {
    // Nobody drives the main run loop here: reading must still finish.
    const std::string path = writeFile("f.bin", randomBytes(50000, 8));
    URLRequest plain(*URL::parse("http://h.test/"));
    TVStreamingMultipartFormData form(plain, kTVUTF8StringEncoding);
    ASSERT_TRUE(form.appendPartWithFileURL(URL::fileURL(path), "f", nullptr));
    auto stream = form.requestByFinalizingMultipartFormData().httpBodyStream();
    auto done = std::async(std::launch::async, [stream] { return drain(*stream, 8192).size(); });
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(done.get(), static_cast<std::size_t>(stream->knownLength()));
}

// An output that takes at most a few bytes per write, as pipes and sockets may.
class TrickleOutput : public platform::OutputStream {
public:
    void open() override { status_ = Status::Open; }
    void close() override { status_ = Status::Closed; }
    std::int64_t write(const std::uint8_t* buffer, std::size_t length) override {
        std::size_t n = std::min<std::size_t>(length, 7);
        data_.insert(data_.end(), buffer, buffer + n);
        return static_cast<std::int64_t>(n);
    }
    Status streamStatus() const override { return status_; }
    ErrorPtr streamError() const override { return nullptr; }
    std::optional<Bytes> dataWritten() const override { return data_; }

private:
    Status status_ = Status::NotOpen;
    Bytes data_;
};

TEST_F(TVMultipartTest, WritingToAFileKeepsEveryByte) {
    auto request = serializer->multipartFormRequestWithMethod(
        "POST", "http://h.test/", Dictionary{{"k", "v"}},
        [&](TVMultipartFormData& form) { form.appendPartWithFileData(randomBytes(20000, 9), "f", "f", "a/b"); }, nullptr);
    ASSERT_TRUE(request);
    Bytes expected = drain(*request->httpBodyStream()->copy(), 65536);

    TrickleOutput trickle;
    auto input = request->httpBodyStream()->copy();
    EXPECT_EQ(TVWriteInputStreamToOutputStream(*input, trickle), nullptr);
    EXPECT_EQ(trickle.dataWritten(), expected);

    const std::string path = dir.file("body.out");
    std::atomic<bool> called{false};
    ErrorPtr result = platform::Error::make("unset", 0);
    URLRequest stripped = serializer->requestWithMultipartFormRequest(*request, URL::fileURL(path), [&](ErrorPtr e) {
        EXPECT_TRUE(platform::RunLoop::isMainThread());
        result = e;
        called = true;
    });
    EXPECT_FALSE(stripped.httpBodyStream());
    ASSERT_TRUE(platform::RunLoop::main()->runUntil([&] { return called.load(); }, 10));
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(bytesOf(test::readFile(path)), expected);
}

TEST_F(TVMultipartTest, WritingAFailingBodyReportsTheError) {
    const std::string path = writeFile("gone.bin", randomBytes(3000, 10));
    auto request = serializer->multipartFormRequestWithMethod(
        "POST", "http://h.test/", Value(),
        [&](TVMultipartFormData& form) { ASSERT_TRUE(form.appendPartWithFileURL(URL::fileURL(path), "f", nullptr)); },
        nullptr);
    ASSERT_TRUE(request);
    ::unlink(path.c_str());
    std::atomic<bool> called{false};
    ErrorPtr result;
    serializer->requestWithMultipartFormRequest(*request, URL::fileURL(dir.file("out")), [&](ErrorPtr e) {
        result = e;
        called = true;
    });
    ASSERT_TRUE(platform::RunLoop::main()->runUntil([&] { return called.load(); }, 10));
    EXPECT_TRUE(result);
}

}  // namespace
}  // namespace pellix
