#include <gtest/gtest.h>

#include "PellixClient/PellixSDKVersion.h"

TEST(Smoke, VersionNumberIsOne) { EXPECT_DOUBLE_EQ(pellix::PellixSDKVersionNumber, 1.0); }
