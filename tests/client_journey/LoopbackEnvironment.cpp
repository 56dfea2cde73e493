// Every test of this program that reaches the SIP engine, directly or through
// the facade, finds it bound to loopback.
#include "client_journey/JourneyKit.h"

namespace {
const auto* const kLoopbackSip = ::testing::AddGlobalTestEnvironment(new pellix::test::SipOnLoopback);
}
