#include <gtest/gtest.h>

#include <string>

#include "platform/PropertyList.h"

using namespace pellix::platform;

namespace {

Bytes nestedArrays(std::size_t depth, const std::string& inner = "") {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
    for (std::size_t i = 0; i < depth; ++i) xml += "<array>";
    xml += inner;
    for (std::size_t i = 0; i < depth; ++i) xml += "</array>";
    xml += "</plist>";
    return Bytes(xml.begin(), xml.end());
}

}  // namespace

// A few megabytes of nested arrays must be refused with an error, not take
// the process down while the parsed tree is released.
TEST(PropertyListReview, HugelyNestedXMLIsRefusedWithoutCrashing) {
    ErrorPtr error;
    auto v = PropertyList::read(nestedArrays(400000), nullptr, &error);
    EXPECT_FALSE(v);
    ASSERT_TRUE(error);
    const Value* why = error->userInfo().find("NSDebugDescription");
    ASSERT_TRUE(why);
    EXPECT_NE(why->asString().find("nested too deeply"), std::string::npos) << why->asString();
}

// The depth guard counts real containers only: nesting at the limit, markup
// inside comments and CDATA, and self-closed containers still read.
TEST(PropertyListReview, NestingAtTheLimitStillReads) {
    auto v = PropertyList::read(nestedArrays(PropertyList::kMaxDepth + 1));
    ASSERT_TRUE(v);

    std::string comments;
    for (int i = 0; i < 2000; ++i) comments += "<!-- <array> --><array/><dict/>";
    auto w = PropertyList::read(nestedArrays(3, comments));
    ASSERT_TRUE(w);
    const Value* inner = w->at(0)->at(0);
    ASSERT_TRUE(inner && inner->isArray());
    EXPECT_EQ(inner->asArray().size(), 4000u);

    EXPECT_FALSE(PropertyList::read(nestedArrays(PropertyList::kMaxDepth + 2)));
}
