// Part headers the caller hands in (header names and values, MIME types,
// names and file names) cannot add header lines or a fake boundary: a part
// whose header would carry CR, LF or NUL, or whose header name is not an HTTP
// token, is refused whole and nothing of it reaches the body.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "TVNetworking/TVHTTPBodyPart.h"
#include "TVNetworking/TVHTTPRequestSerializer.h"
#include "TVNetworking/TVMultipartBodyStream.h"
#include "TVNetworking/TVStreamingMultipartFormData.h"
#include "platform/Log.h"
#include "support/TestSupport.h"

namespace pellix {
namespace {

using platform::Bytes;
using platform::ErrorPtr;
using platform::InputStream;
using platform::URL;
using platform::URLRequest;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The whole body; `error` gets the stream's error when it fails.
std::string drain(InputStream& stream, ErrorPtr* error = nullptr) {
    stream.open();
    std::string out;
    std::uint8_t buffer[1024];
    for (;;) {
        std::int64_t n = stream.read(buffer, sizeof buffer);
        if (n < 0) {
            if (error) *error = stream.streamError();
            break;
        }
        if (n == 0) break;
        out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
    }
    stream.close();
    return out;
}

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Captures log lines while alive.
struct LogCapture {
    std::mutex mutex;
    std::vector<std::string> lines;
    LogCapture() {
        platform::Log::setSink([this](std::string_view l) {
            std::lock_guard lock(mutex);
            lines.emplace_back(l);
        });
    }
    ~LogCapture() { platform::Log::setSink(nullptr); }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return lines.size();
    }
};

void expectUnsafeHeaderError(const ErrorPtr& error) {
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), TVURLRequestSerializationErrorDomain);
    EXPECT_EQ(error->code(), TVHTTPBodyPart::kUnsafeHeaderErrorCode);
}

class MultipartHeaderInjection : public ::testing::Test {
protected:
    test::TempDir dir;
};

TEST_F(MultipartHeaderInjection, EveryAppendPathRefusesUnsafeHeadersWhole) {
    const std::string filePath = dir.file("f.txt");
    test::writeFile(filePath, "file");
    const std::string fakeBoundary =
        "\r\n\r\n--Boundary+0000000000000000\r\nContent-Disposition: form-data; name=\"x\"";
    // Appends the case's part; false when the method itself said "refused".
    using Append = std::function<bool(TVStreamingMultipartFormData&, ErrorPtr*)>;
    auto headers = [](TVHTTPBodyPartHeaders h) -> Append {
        return [h](TVStreamingMultipartFormData& f, ErrorPtr*) {
            f.appendPartWithHeaders(h, bytesOf("body"));
            return true;
        };
    };
    auto fileData = [](std::string name, std::string fileName, std::string mime) -> Append {
        return [=](TVStreamingMultipartFormData& f, ErrorPtr*) {
            f.appendPartWithFileData(bytesOf("data"), name, fileName, mime);
            return true;
        };
    };
    struct Case {
        const char* name;
        Append append;
        bool refused;
        bool reportsResult;  // a bool-returning method: false with an error when refused
    };
    const Case cases[] = {
        {"header value with CRLF and a header",
         headers({{"Content-Disposition", "form-data; name=\"a\"\r\nX-Injected: 1"}}), true, false},
        {"header value with a fake boundary", headers({{"Content-Type", "text/plain" + fakeBoundary}}), true, false},
        {"header value with a bare LF", headers({{"Content-Type", "text/plain\nX-Injected: 1"}}), true, false},
        {"header value with a bare CR", headers({{"Content-Type", "text/plain\rX-Injected: 1"}}), true, false},
        {"header value with NUL", headers({{"Content-Type", std::string("text/plain\0x", 12)}}), true, false},
        {"header name with a colon and space", headers({{"X-Injected: 1\r\nContent-Type", "a"}}), true, false},
        {"header name with CRLF", headers({{"Content-Type\r\n", "a"}}), true, false},
        {"empty header name", headers({{"", "a"}}), true, false},
        {"header name not ASCII", headers({{"门禁", "a"}}), true, false},
        {"safe header then an unsafe one", headers({{"X-Ok", "1"}, {"X-Bad", "2\r\nX-Injected: 1"}}), true, false},
        {"file data MIME type with a header", fileData("f", "f.txt", "text/plain\r\nX-Injected: 1"), true, false},
        {"file data name with NUL", fileData(std::string("f\0g", 3), "f.txt", "text/plain"), true, false},
        {"file data file name with NUL", fileData("f", std::string("f\0.txt", 6), "text/plain"), true, false},
        {"stream MIME type with a fake boundary",
         [&](TVStreamingMultipartFormData& f, ErrorPtr*) {
             f.appendPartWithInputStream(InputStream::withData(bytesOf("s")), "s", "s.bin", 1, "a/b" + fakeBoundary);
             return true;
         },
         true, false},
        {"form data name with NUL",
         [](TVStreamingMultipartFormData& f, ErrorPtr*) {
             f.appendPartWithFormData(bytesOf("v"), std::string("n\0m", 3));
             return true;
         },
         true, false},
        {"file URL MIME type with LF",
         [&](TVStreamingMultipartFormData& f, ErrorPtr* e) {
             return f.appendPartWithFileURL(URL::fileURL(filePath), "f", "f.txt", "text/plain\nX-Injected: 1", e);
         },
         true, true},
        {"file URL file name with NUL",
         [&](TVStreamingMultipartFormData& f, ErrorPtr* e) {
             return f.appendPartWithFileURL(URL::fileURL(filePath), "f", std::string("f\0.txt", 6), "text/plain", e);
         },
         true, true},
        // Still accepted: a header that is merely unusual, and names whose
        // line breaks are escaped inside their quotes.
        {"safe custom header", headers({{"X-Custom_1.~", "a\tb ; c=\"d\" 门禁"}}), false, false},
        {"name with CRLF escaped in quotes", fileData("a\r\nX-Injected: 1", "b\r\n.txt", "text/plain"), false, false},
        {"file URL with safe headers",
         [&](TVStreamingMultipartFormData& f, ErrorPtr* e) {
             return f.appendPartWithFileURL(URL::fileURL(filePath), "f", "f.txt", "text/plain", e);
         },
         false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        TVStreamingMultipartFormData form(URLRequest(*URL::parse("http://h.test/")), kTVUTF8StringEncoding);
        form.appendPartWithFormData(bytesOf("1"), "before");
        ErrorPtr error;
        const bool said = c.append(form, &error);
        form.appendPartWithFormData(bytesOf("2"), "after");

        const std::size_t parts = form.bodyStream()->HTTPBodyParts().size();
        const URLRequest request = form.requestByFinalizingMultipartFormData();
        ErrorPtr readError;
        const std::string body = drain(*request.httpBodyStream(), &readError);
        EXPECT_FALSE(readError);
        EXPECT_EQ(request.valueForHTTPHeaderField("Content-Length"), std::to_string(body.size()));
        // Exactly one boundary line per part plus the final one: nothing forged.
        EXPECT_EQ(occurrences(body, "--" + form.boundary()), parts + 1);
        EXPECT_EQ(occurrences(body, "--Boundary+0000000000000000"), 0u);
        EXPECT_EQ(occurrences(body, "\r\nX-Injected"), 0u);
        EXPECT_NE(body.find("name=\"before\""), std::string::npos);
        EXPECT_NE(body.find("name=\"after\""), std::string::npos);
        if (c.refused) {
            EXPECT_EQ(parts, 2u) << body;
            expectUnsafeHeaderError(form.refusalError());
            if (c.reportsResult) {
                EXPECT_FALSE(said);
                expectUnsafeHeaderError(error);
            } else {
                EXPECT_EQ(log.count(), 1u) << "a refused part is reported in the log";
            }
        } else {
            EXPECT_EQ(parts, 3u) << body;
            EXPECT_TRUE(said);
            EXPECT_FALSE(error);
            EXPECT_FALSE(form.refusalError());
        }
    }
}

TEST_F(MultipartHeaderInjection, RequestBuilderFailsWhenTheBlockHadAPartRefused) {
    auto serializer = TVHTTPRequestSerializer::serializer();
    ErrorPtr error;
    auto request = serializer->multipartFormRequestWithMethod(
        "POST", "http://h.test/upload", platform::Dictionary{{"k", "v"}},
        [](TVMultipartFormData& form) {
            form.appendPartWithFileData(bytesOf("img"), "image", "a.jpg", "image/jpeg\r\nX-Injected: 1");
            form.appendPartWithFormData(bytesOf("later"), "later");
        },
        &error);
    EXPECT_FALSE(request) << "a request missing a part the caller asked for must not go out";
    expectUnsafeHeaderError(error);

    // A parameter whose name holds NUL is refused the same way.
    error = nullptr;
    request = serializer->multipartFormRequestWithMethod("POST", "http://h.test/upload",
                                                         platform::Dictionary{{std::string("a\0b", 3), "v"}}, nullptr,
                                                         &error);
    EXPECT_FALSE(request);
    expectUnsafeHeaderError(error);

    // Clean input still builds.
    error = nullptr;
    request = serializer->multipartFormRequestWithMethod(
        "POST", "http://h.test/upload", platform::Dictionary{{"k", "v"}},
        [](TVMultipartFormData& form) { form.appendPartWithFileData(bytesOf("img"), "image", "a.jpg", "image/jpeg"); },
        &error);
    ASSERT_TRUE(request);
    EXPECT_FALSE(error);
}

TEST_F(MultipartHeaderInjection, PartsBuiltByHandFailTheBodyInsteadOfWritingUnsafeHeaders) {
    // Parts assembled directly on the body stream skip the builder's check;
    // the part itself refuses to write such headers.
    for (const TVHTTPBodyPartHeaders& headers :
         {TVHTTPBodyPartHeaders{{"Content-Type", "a\r\nX-Injected: 1"}}, TVHTTPBodyPartHeaders{{"X Bad", "1"}}}) {
        auto stream = std::make_shared<TVMultipartBodyStream>(kTVUTF8StringEncoding);
        auto part = std::make_shared<TVHTTPBodyPart>();
        part->boundary = TVCreateMultipartFormBoundary();
        part->headers = headers;
        part->body = std::make_shared<const Bytes>(bytesOf("x"));
        part->bodyContentLength = 1;
        stream->appendHTTPBodyPart(part);
        stream->setInitialAndFinalBoundaries();
        ErrorPtr error;
        const std::string body = drain(*stream, &error);
        EXPECT_EQ(body.find("X-Injected"), std::string::npos);
        EXPECT_EQ(body.find("X Bad"), std::string::npos);
        expectUnsafeHeaderError(error);
        EXPECT_EQ(stream->streamStatus(), InputStream::Status::Error);
    }
}

}  // namespace
}  // namespace pellix
