// The object meta a reply's head yields: the listed fields (any case) and
// every "x-hos-meta" field, nothing else.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "HOSSDK/HOSHttpResponseParser.h"
#include "HOSSDK/HOSObjectMetaFieldNames.h"

namespace pellix {
namespace {

TEST(HOSObjectMeta, KeepsTheListedFieldsInAnyCaseAndTheUserMetaOnly) {
    platform::HTTPURLResponse::HeaderFields fields;
    std::set<std::string> kept;
    // Every listed name, alternately upper- and lower-cased, as a server may send it.
    bool upper = false;
    for (const char* name : HOSObjectMetaFieldNames) {
        std::string sent(name);
        for (auto& ch : sent) ch = static_cast<char>(upper ? std::toupper(ch) : std::tolower(ch));
        upper = !upper;
        fields.emplace_back(sent, "v");
        kept.insert(sent);
    }
    const struct {
        const char* name;
        bool keep;
    } others[] = {
        {"x-hos-meta-owner", true}, {"X-HOS-Meta-Colour", true}, {"x-hos-metadata", true},
        {"Server", false},          {"Date", false},              {"x-hos-hash-crc64ecma", false},
        {"Content-MD5", false},     {"x-hos-meta", true},         {"Connection", false},
    };
    for (const auto& o : others) {
        fields.emplace_back(o.name, "v");
        if (o.keep) kept.insert(o.name);
    }
    const platform::HTTPURLResponse response(*platform::URL::parse("https://bucket.hos.example/key"), 200, "HTTP/1.1",
                                             fields);
    const auto meta = HOSHttpResponseParser(0).parseResponseHeaderToGetMeta(response);
    std::set<std::string> got;
    for (const auto& [name, value] : meta) got.insert(name);
    EXPECT_EQ(got, kept);
    EXPECT_EQ(HOSObjectMetaFieldNames.size(), 10u);
}

}  // namespace
}  // namespace pellix
