// Storage errors: domains, codes and user info.
#include <gtest/gtest.h>

#include "HOSSDK/HOSErrors.h"

namespace pellix {
namespace {

TEST(HOSErrors, ClientAndServiceErrors) {
    auto e = HOSClientError(HOSClientErrorCodeInvalidArgument, HOSErrorMessage::kBucketNameInvalid);
    EXPECT_EQ(e->domain(), "com.halvane.hos.clientError");
    EXPECT_EQ(e->code(), 3);
    ASSERT_EQ(e->userInfo().size(), 1u);
    EXPECT_EQ(e->userInfo().find("ErrorMessage")->asString(), "Bucket name invalid");

    EXPECT_TRUE(HOSClientError(HOSClientErrorCodeTaskCancelled)->userInfo().empty());

    auto noUpload = HOSServerMessageError(HOSClientErrorCodeNoUploadId, HOSErrorMessage::kCannotGetUploadId);
    EXPECT_EQ(noUpload->domain(), "com.halvane.hos.serverError");
    EXPECT_EQ(noUpload->code(), 4);

    platform::Dictionary body{{"Code", "NoSuchKey"}, {"Message", "The specified key does not exist."}};
    auto notFound = HOSServerError(404, body);
    EXPECT_EQ(notFound->domain(), "com.halvane.hos.serverError");
    EXPECT_EQ(notFound->code(), -404);
    EXPECT_EQ(notFound->userInfo(), body);
    EXPECT_EQ(HOSServerError(203, {})->code(), -203);
}

TEST(HOSErrors, TransportErrorsKeepTheirDetails) {
    platform::Error timedOut("NSURLErrorDomain", -1001, {{"NSLocalizedDescription", "The request timed out."}});
    auto net = HOSNetworkError(timedOut);
    EXPECT_EQ(net->domain(), HOSClientErrorDomain);
    EXPECT_EQ(net->code(), HOSClientErrorCodeNetworkError);
    EXPECT_EQ(net->userInfo().find("OriginErrorCode")->asString(), "-1001");
    EXPECT_EQ(net->userInfo().find("NSLocalizedDescription")->asString(), "The request timed out.");

    platform::Error cancelled("NSURLErrorDomain", -999, {{"NSLocalizedDescription", "cancelled"}});
    auto c = HOSCancelledTransportError(cancelled);
    EXPECT_EQ(c->code(), HOSClientErrorCodeTaskCancelled);
    EXPECT_EQ(c->userInfo(), cancelled.userInfo());
}

}  // namespace
}  // namespace pellix
