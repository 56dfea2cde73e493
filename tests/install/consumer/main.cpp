// An outside program built against an installed copy of the library: one
// header of each kind a host includes, one call that needs the archives and
// their dependencies at link time.
#include <cstdio>

#include "MQTTClient/MQTTSession.h"
#include "PellixClient/PellixClient.h"
#include "PellixDataManager/PellixDataManager.h"
#include "platform/JSON.h"

int main() {
    auto value = pellix::platform::JSON::parse(R"({"installed":true})");
    const bool ok = value && value->isDictionary() && !pellix::PellixClient::isPellixSDKLogin();
    std::puts(ok ? "consumer ok" : "consumer broken");
    return ok ? 0 : 1;
}
