#include "SipEngineSDK/SipEngine.h"
#include "SipEngineSDK/SofiaEngine.h"

namespace client {

SipEngine* SipEngineFactory::Create(Config& config) { return new SofiaEngine(config); }

void SipEngineFactory::Delete(SipEngine*& engine) {
    delete engine;
    engine = nullptr;
}

}  // namespace client
