// Query text that cannot be put into the request's URL.
#include <gtest/gtest.h>

#include "TVNetworking/TVHTTPRequestSerializer.h"
#include "platform/URLError.h"

namespace pellix {
namespace {

// A custom query builder that returns text no URL can hold (a raw space):
// the request must be refused, not sent without its parameters.
TEST(RequestSerializerReview, UnusableQueryTextIsAnError) {
    auto serializer = TVHTTPRequestSerializer::serializer();
    serializer->setQueryStringSerializationWithBlock(
        [](const platform::URLRequest&, const platform::Value&, platform::ErrorPtr*) -> std::string {
            return "q=a b";
        });
    platform::Dictionary parameters;
    parameters.set("q", platform::Value("a b"));
    platform::ErrorPtr error;
    auto request = serializer->requestWithMethod("GET", "http://127.0.0.1/x?k=1", platform::Value(parameters), &error);
    EXPECT_FALSE(request.has_value()) << request->url().absoluteString();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), platform::URLError::kDomain);
    EXPECT_EQ(error->code(), platform::URLError::BadURL);

    // Usable text still goes into the query, before the fragment.
    serializer->setQueryStringSerializationWithBlock(
        [](const platform::URLRequest&, const platform::Value&, platform::ErrorPtr*) -> std::string {
            return "q=a%20b";
        });
    error = nullptr;
    request = serializer->requestWithMethod("GET", "http://127.0.0.1/x?k=1#top", platform::Value(parameters), &error);
    ASSERT_TRUE(request.has_value());
    EXPECT_FALSE(error);
    EXPECT_EQ(request->url().absoluteString(), "http://127.0.0.1/x?k=1&q=a%20b#top");
}

}  // namespace
}  // namespace pellix
