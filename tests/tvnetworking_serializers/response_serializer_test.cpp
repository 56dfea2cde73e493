// Response serializers: validation, the decoding gate, JSON, XML, property
// lists, the compound serializer and the error helpers.
#include <gtest/gtest.h>

#include <functional>
#include <typeinfo>

#include "ImageFixtures.h"
#include "TVNetworking/TVCompoundResponseSerializer.h"
#include "TVNetworking/TVImageResponseSerializer.h"
#include "TVNetworking/TVJSONResponseSerializer.h"
#include "TVNetworking/TVPropertyListResponseSerializer.h"
#include "TVNetworking/TVXMLParserResponseSerializer.h"
#include "platform/JSON.h"
#include "platform/PropertyList.h"

namespace pellix {
namespace {

using platform::Array;
using platform::Bytes;
using platform::Dictionary;
using platform::Error;
using platform::ErrorPtr;
using platform::Value;

TVResponse response(int status, const char* mime, const char* url = "https://h.test/api") {
    platform::HTTPURLResponse::HeaderFields headers;
    if (mime) headers.emplace_back("Content-Type", mime);
    return std::make_shared<const platform::HTTPURLResponse>(url ? *platform::URL::parse(url) : platform::URL(), status,
                                                             "HTTP/1.1", headers);
}

TVResponseData body(const std::string& text) { return Bytes(text.begin(), text.end()); }

const ErrorPtr kUntouched = Error::make("untouched", 1);

TEST(TVHTTPResponseSerializer, Validation) {
    struct Case {
        const char* name;
        TVResponse response;
        TVResponseData data;
        bool valid;
        std::int64_t code;        // 0: the slot receives no error object
        std::int64_t underlying;  // 0: none
    };
    const Case cases[] = {
        {"204 without type or body", response(204, nullptr), body(""), true, 0, 0},
        {"200 JSON", response(200, "application/json"), body("{}"), true, 0, 0},
        {"wrong type with body", response(200, "text/plain"), body("x"), false, -1016, 0},
        {"wrong type without body", response(200, "text/plain"), body(""), false, 0, 0},
        {"wrong type, no body at all", response(200, "text/html"), std::nullopt, false, 0, 0},
        {"bad status", response(500, "application/json"), body("{}"), false, -1011, 0},
        {"both fail", response(404, "text/html"), body("<p>"), false, -1011, -1016},
        {"no URL, bad status", response(500, "application/json", nullptr), body("{}"), true, 0, 0},
        {"no URL, wrong type", response(200, "text/plain", nullptr), body("x"), false, 0, 0},
        {"file URL", response(500, "text/plain", "file:///tmp/x"), body("x"), true, 0, 0},
        {"no response", nullptr, body("x"), true, 0, 0},
        {"type differs in case", response(200, "Application/JSON"), body("{}"), true, 0, 0},
    };
    auto serializer = TVJSONResponseSerializer::serializer();
    for (const Case& c : cases) {
        ErrorPtr error = kUntouched;
        EXPECT_EQ(serializer->validateResponse(c.response, c.data, &error), c.valid) << c.name;
        if (c.valid) {
            EXPECT_EQ(error, kUntouched) << c.name;
            continue;
        }
        if (!c.code) {
            EXPECT_EQ(error, nullptr) << c.name;
            continue;
        }
        ASSERT_TRUE(error) << c.name;
        EXPECT_EQ(error->domain(), TVURLResponseSerializationErrorDomain) << c.name;
        EXPECT_EQ(error->code(), c.code) << c.name;
        if (c.underlying) {
            ASSERT_TRUE(error->underlying()) << c.name;
            EXPECT_EQ(error->underlying()->code(), c.underlying) << c.name;
        } else {
            EXPECT_FALSE(error->underlying()) << c.name;
        }
    }
}

TEST(TVHTTPResponseSerializer, ErrorTextsAndUserInfo) {
    auto serializer = TVJSONResponseSerializer::serializer();
    ErrorPtr error;
    serializer->validateResponse(response(500, "text/html"), body("oops"), &error);
    ASSERT_TRUE(error);
    const Dictionary& info = error->userInfo();
    EXPECT_EQ(info.find(Error::kLocalizedDescriptionKey)->asString(), "Request failed: internal server error (500)");
    EXPECT_EQ(info.find(Error::kURLErrorFailingURLErrorKey)->asString(), "https://h.test/api");
    EXPECT_EQ(info.find(TVNetworkingOperationFailingURLResponseErrorKey)->get("statusCode")->asInt(), 500);
    EXPECT_EQ(info.find(TVNetworkingOperationFailingURLResponseDataErrorKey)->asBytes(), *body("oops"));
    EXPECT_EQ(error->underlying()->userInfo().find(Error::kLocalizedDescriptionKey)->asString(),
              "Request failed: unacceptable content-type: text/html");

    ErrorPtr noBody;
    serializer->validateResponse(response(404, "application/json"), std::nullopt, &noBody);
    ASSERT_TRUE(noBody);
    EXPECT_FALSE(noBody->userInfo().contains(TVNetworkingOperationFailingURLResponseDataErrorKey));
    EXPECT_EQ(noBody->userInfo().find(Error::kLocalizedDescriptionKey)->asString(), "Request failed: not found (404)");
}

TEST(TVJSONResponseSerializer, Decoding) {
    auto serializer = TVJSONResponseSerializer::serializer();
    struct Case {
        const char* name;
        TVResponse response;
        TVResponseData data;
        std::optional<Value> object;
        std::int64_t code;  // 0: no error; else the outer error's code
        std::int64_t underlying;
    };
    const Case cases[] = {
        {"204 empty", response(204, nullptr), body(""), std::nullopt, 0, 0},
        {"one space", response(200, "application/json"), body(" "), std::nullopt, 0, 0},
        {"object", response(200, "text/json"), body(R"({"a":[1,"x"]})"), Value(Dictionary{{"a", Array{1, "x"}}}), 0, 0},
        {"500 still decodes", response(500, "application/json"), body(R"({"code":1})"), Value(Dictionary{{"code", 1}}), -1011, 0},
        {"text/plain with body", response(200, "text/plain"), body("{}"), std::nullopt, -1016, 0},
        {"both fail", response(500, "text/plain"), body("{}"), std::nullopt, -1011, -1016},
        {"invalid JSON behind 404", response(404, "application/json"), body("{nope"), std::nullopt, 3840, -1011},
        {"invalid JSON", response(200, "application/json"), body("[1,"), std::nullopt, 3840, 0},
    };
    for (const Case& c : cases) {
        ErrorPtr error;
        TVResponseObject object = serializer->responseObject(c.response, c.data, &error);
        if (c.object) {
            ASSERT_TRUE(object.value()) << c.name;
            EXPECT_EQ(*object.value(), *c.object) << c.name;
        } else {
            EXPECT_TRUE(object.isNil()) << c.name;
        }
        if (!c.code) {
            EXPECT_FALSE(error) << c.name;
            continue;
        }
        ASSERT_TRUE(error) << c.name;
        EXPECT_EQ(error->code(), c.code) << c.name;
        if (c.underlying) {
            ASSERT_TRUE(error->underlying()) << c.name;
            EXPECT_EQ(error->underlying()->code(), c.underlying) << c.name;
        }
    }
    // A wrong type with an empty body: nothing, and the slot is cleared.
    ErrorPtr error = kUntouched;
    EXPECT_TRUE(serializer->responseObject(response(200, "text/plain"), body(""), &error).isNil());
    EXPECT_EQ(error, nullptr);
    // Without an error slot a status failure yields nothing.
    EXPECT_TRUE(serializer->responseObject(response(500, "application/json"), body("{}"), nullptr).isNil());
}

TEST(TVJSONResponseSerializer, NullRemoval) {
    const Value input = *platform::JSON::parse(R"({"a":null,"b":[null,{"c":null}],"d":1})");
    const Value expected(Dictionary{{"b", Array{Value(), Value(Dictionary{})}}, {"d", 1}});
    EXPECT_EQ(TVJSONObjectByRemovingKeysWithNullValues(input, 0), expected);
    EXPECT_EQ(TVJSONObjectByRemovingKeysWithNullValues(input, 1), expected);
    EXPECT_EQ(TVJSONObjectByRemovingKeysWithNullValues(Value("x"), 0), Value("x"));

    auto serializer = TVJSONResponseSerializer::serializer();
    serializer->setRemovesKeysWithNullValues(true);
    auto object = serializer->responseObject(response(200, "application/json"),
                                             body(R"({"a":null,"b":[null,{"c":null}],"d":1})"), nullptr);
    ASSERT_TRUE(object.value());
    EXPECT_EQ(*object.value(), expected);
}

class CollectingDelegate : public platform::XMLParserDelegate {
public:
    std::vector<std::string> elements;
    void didStartElement(platform::XMLParser&, const std::string& name, const Dictionary&) override {
        elements.push_back(name);
    }
};

TEST(TVXMLParserResponseSerializer, HandsBackAnUnstartedParser) {
    auto serializer = TVXMLParserResponseSerializer::serializer();
    auto object = serializer->responseObject(response(200, "text/xml"), body("<a><b/><c/></a>"), nullptr);
    auto parser = object.xmlParser();
    ASSERT_TRUE(parser);
    CollectingDelegate delegate;
    parser->setDelegate(&delegate);
    EXPECT_TRUE(parser->parse());
    EXPECT_EQ(delegate.elements, (std::vector<std::string>{"a", "b", "c"}));
    ErrorPtr error;
    EXPECT_TRUE(serializer->responseObject(response(200, "application/json"), body("<a/>"), &error).isNil());
    EXPECT_EQ(error->code(), -1016);
}

TEST(TVPropertyListResponseSerializer, Decoding) {
    auto serializer = TVPropertyListResponseSerializer::serializer();
    const Value value(Dictionary{{"k", "v"}, {"n", 3}});
    for (auto format : {platform::PropertyList::Format::XML, platform::PropertyList::Format::Binary}) {
        auto object = serializer->responseObject(response(200, "application/x-plist"),
                                                 *platform::PropertyList::write(value, format), nullptr);
        ASSERT_TRUE(object.value());
        EXPECT_EQ(*object.value(), value);
    }
    for (const TVResponseData& bad : {body(""), body("bplist00garbage"), body("<plist><dict><key>")}) {
        ErrorPtr error;
        EXPECT_TRUE(serializer->responseObject(response(200, "application/x-plist"), bad, &error).isNil());
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), platform::PropertyList::kErrorCodeRead);
    }
    ErrorPtr error;
    EXPECT_TRUE(serializer->responseObject(response(200, "application/x-plist"), std::nullopt, &error).isNil());
    EXPECT_FALSE(error);
}

TEST(TVCompoundResponseSerializer, FirstMemberWithAnObjectWins) {
    auto compound = TVCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
        {TVJSONResponseSerializer::serializer(), TVImageResponseSerializer::serializer()});
    auto png = test::encodePNG(3, 2);
    ErrorPtr error;
    auto image = compound->responseObject(response(200, "image/png"), Bytes(png.begin(), png.end()), &error);
    ASSERT_TRUE(image.image());
    EXPECT_EQ(image.image()->width(), 3u);
    EXPECT_FALSE(error);

    auto html = compound->responseObject(response(200, "text/html"), body("<p>hi</p>"), &error);
    ASSERT_TRUE(html.value());
    EXPECT_EQ(html.value()->asBytes(), *body("<p>hi</p>"));
    EXPECT_FALSE(error);

    // A member's status error is chained onto what the slot held.
    ErrorPtr earlier = Error::make("earlier", 5);
    ErrorPtr slot = earlier;
    auto json = compound->responseObject(response(500, "application/json"), body("[1]"), &slot);
    ASSERT_TRUE(json.value());
    ASSERT_TRUE(slot);
    EXPECT_EQ(slot->code(), -1011);
    EXPECT_EQ(slot->underlying(), earlier);

    auto copy = std::dynamic_pointer_cast<TVCompoundResponseSerializer>(compound->copy());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->responseSerializers().size(), 2u);
}

TEST(TVResponseSerializationErrors, Helpers) {
    ErrorPtr a = Error::make("A", 1), b = Error::make("B", 2), c = Error::make("C", 3, {}, Error::make("D", 4));
    EXPECT_EQ(TVErrorWithUnderlyingError(nullptr, b), b);
    EXPECT_EQ(TVErrorWithUnderlyingError(a, nullptr), a);
    EXPECT_EQ(TVErrorWithUnderlyingError(c, b), c);
    ErrorPtr chained = TVErrorWithUnderlyingError(a, b);
    EXPECT_EQ(chained->domain(), "A");
    EXPECT_EQ(chained->underlying(), b);
    EXPECT_TRUE(TVErrorOrUnderlyingErrorHasCodeInDomain(Error::make("X", 9, {}, chained), 2, "B"));
    EXPECT_FALSE(TVErrorOrUnderlyingErrorHasCodeInDomain(chained, 2, "A"));
    EXPECT_FALSE(TVErrorOrUnderlyingErrorHasCodeInDomain(nullptr, 2, "B"));
}

TEST(TVHTTPResponseSerializer, CopiesKeepSettings) {
    auto json = TVJSONResponseSerializer::serializerWithReadingOptions(4);
    json->setRemovesKeysWithNullValues(true);
    json->setAcceptableStatusCodes(TVIndexSetWithRange(0, 600));
    auto copy = std::dynamic_pointer_cast<TVJSONResponseSerializer>(json->copy());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->readingOptions(), 4u);
    EXPECT_TRUE(copy->removesKeysWithNullValues());
    EXPECT_EQ(copy->acceptableStatusCodes()->size(), 600u);
    EXPECT_EQ(TVHTTPResponseSerializer::serializer()->acceptableStatusCodes(), TVIndexSetWithRange(200, 100));
    EXPECT_FALSE(TVHTTPResponseSerializer::serializer()->acceptableContentTypes());
}

}  // namespace
}  // namespace pellix

namespace pellix {
namespace {

TEST(TVHTTPResponseSerializer, ArchivingRoundTrip) {
    auto image = TVImageResponseSerializer::serializer();
    image->setImageScale(3);
    image->setAutomaticallyInflatesResponseImage(false);
    auto json = TVJSONResponseSerializer::serializerWithReadingOptions(4);
    json->setRemovesKeysWithNullValues(true);
    json->setAcceptableStatusCodes(TVIndexSetWithRange(0, 600));
    auto compound = TVCompoundResponseSerializer::compoundSerializerWithResponseSerializers({json, image});
    compound->setAcceptableContentTypes(std::set<std::string>{"a/b"});

    Dictionary archive;
    compound->encodeWithCoder(archive);
    auto restored = std::dynamic_pointer_cast<TVCompoundResponseSerializer>(TVHTTPResponseSerializer::serializerWithCoder(archive));
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->acceptableContentTypes(), (std::set<std::string>{"a/b"}));
    ASSERT_EQ(restored->responseSerializers().size(), 2u);
    auto json2 = std::dynamic_pointer_cast<TVJSONResponseSerializer>(restored->responseSerializers()[0]);
    auto image2 = std::dynamic_pointer_cast<TVImageResponseSerializer>(restored->responseSerializers()[1]);
    ASSERT_TRUE(json2 && image2);
    EXPECT_EQ(json2->readingOptions(), 4u);
    EXPECT_TRUE(json2->removesKeysWithNullValues());
    EXPECT_EQ(json2->acceptableStatusCodes()->size(), 600u);
    EXPECT_EQ(image2->imageScale(), 3);
    EXPECT_FALSE(image2->automaticallyInflatesResponseImage());

    // Missing keys: both checks off, numbers 0.
    auto bare = TVImageResponseSerializer::serializer();
    bare->initWithCoder(Dictionary{});
    EXPECT_FALSE(bare->acceptableStatusCodes());
    EXPECT_FALSE(bare->acceptableContentTypes());
    EXPECT_EQ(bare->imageScale(), 0.0);
    EXPECT_FALSE(bare->automaticallyInflatesResponseImage());
    EXPECT_FALSE(TVHTTPResponseSerializer::serializerWithCoder(Dictionary{{"class", "NoSuchSerializer"}}));
}

}  // namespace
}  // namespace pellix

namespace pellix {
namespace {

// The XML and property-list serializers copied and archived: the copy or the
// restored serializer is of the same class, keeps every setting (the
// base's two sets and the property list's own numbers), stands on its own,
// and decodes what the original decodes.
TEST(TVXMLAndPropertyListResponseSerializers, CopiesAndArchivesKeepClassSettingsAndDecoding) {
    const Value plistValue(Dictionary{{"k", "v"}});
    struct Case {
        const char* name;
        std::shared_ptr<TVHTTPResponseSerializer> original;
        TVResponseData answer;
        std::function<bool(const TVResponseObject&)> decoded;
    };
    auto plist = TVPropertyListResponseSerializer::serializerWithFormat(200, 2);
    const Case cases[] = {
        {"XML", TVXMLParserResponseSerializer::serializer(), body("<a><b/></a>"),
         [](const TVResponseObject& o) {
             auto parser = o.xmlParser();
             CollectingDelegate delegate;
             if (parser) parser->setDelegate(&delegate);
             return parser && parser->parse() && delegate.elements == std::vector<std::string>{"a", "b"};
         }},
        {"property list", plist, *platform::PropertyList::write(plistValue, platform::PropertyList::Format::Binary),
         [&](const TVResponseObject& o) { return o.value() && *o.value() == plistValue; }},
    };
    // What a serializer of the case's class must hold after copy or restore.
    auto expectSame = [](const TVHTTPResponseSerializer& made, const TVHTTPResponseSerializer& original) {
        EXPECT_EQ(std::string(made.className()), original.className());
        EXPECT_EQ(typeid(made), typeid(original));
        EXPECT_EQ(made.acceptableStatusCodes(), (std::set<int>{201, 202}));
        EXPECT_EQ(made.acceptableContentTypes(), (std::set<std::string>{"x/y"}));
        if (auto* p = dynamic_cast<const TVPropertyListResponseSerializer*>(&made)) {
            EXPECT_EQ(p->format(), 200u);
            EXPECT_EQ(p->readOptions(), 2u);
        }
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.original->setAcceptableStatusCodes(std::set<int>{201, 202});
        c.original->setAcceptableContentTypes(std::set<std::string>{"x/y"});

        auto copy = c.original->copy();
        ASSERT_TRUE(copy);
        EXPECT_NE(copy.get(), c.original.get());
        expectSame(*copy, *c.original);
        copy->setAcceptableContentTypes(std::set<std::string>{"other/type"});
        EXPECT_EQ(c.original->acceptableContentTypes(), (std::set<std::string>{"x/y"})) << "the copy shares state";

        Dictionary archive;
        c.original->encodeWithCoder(archive);
        EXPECT_EQ(archive.find("class")->asString(), c.original->className());
        if (dynamic_cast<const TVPropertyListResponseSerializer*>(c.original.get())) {
            ASSERT_TRUE(archive.find("format") && archive.find("readOptions"));
            EXPECT_EQ(archive.find("format")->uintValue(), 200u);
            EXPECT_EQ(archive.find("readOptions")->uintValue(), 2u);
        }
        auto restored = TVHTTPResponseSerializer::serializerWithCoder(archive);
        ASSERT_TRUE(restored);
        expectSame(*restored, *c.original);

        // Each made one decodes the original's answer and applies its sets:
        // a refused status still decodes (with the status error), a refused
        // content type does not.
        for (const auto& made : {c.original->copy(), restored}) {
            ErrorPtr error;
            EXPECT_TRUE(c.decoded(made->responseObject(response(201, "x/y"), c.answer, &error)));
            EXPECT_FALSE(error);
            EXPECT_TRUE(c.decoded(made->responseObject(response(200, "x/y"), c.answer, &error)));
            ASSERT_TRUE(error);
            EXPECT_EQ(error->code(), -1011);
            error = nullptr;
            EXPECT_TRUE(made->responseObject(response(201, "text/xml"), c.answer, &error).isNil());
            ASSERT_TRUE(error);
            EXPECT_EQ(error->code(), -1016);
        }

        // An archive without the settings: both checks off, numbers 0.
        auto bare = TVHTTPResponseSerializer::serializerWithCoder(Dictionary{{"class", c.original->className()}});
        ASSERT_TRUE(bare);
        EXPECT_EQ(typeid(*bare), typeid(*c.original));
        EXPECT_FALSE(bare->acceptableStatusCodes());
        EXPECT_FALSE(bare->acceptableContentTypes());
        if (auto* p = dynamic_cast<const TVPropertyListResponseSerializer*>(bare.get())) {
            EXPECT_EQ(p->format(), 0u);
            EXPECT_EQ(p->readOptions(), 0u);
        }
        ErrorPtr error;
        EXPECT_TRUE(c.decoded(bare->responseObject(response(418, "any/type"), c.answer, &error)));
        EXPECT_FALSE(error);
    }
}

}  // namespace
}  // namespace pellix
