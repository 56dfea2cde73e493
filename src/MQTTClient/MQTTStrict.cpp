#include "MQTTClient/MQTTStrict.h"

#include <atomic>

namespace pellix {

namespace {
std::atomic<bool> strictSwitch{false};
}

bool MQTTStrict::strict() { return strictSwitch.load(std::memory_order_relaxed); }

void MQTTStrict::setStrict(bool strict) { strictSwitch.store(strict, std::memory_order_relaxed); }

}  // namespace pellix
