#include "PellixLog/PellixLog.h"

#include <string>

#include "MQTTClient/MQTTLog.h"
#include "platform/Log.h"

namespace pellix {

const std::shared_ptr<PellixLog>& PellixLog::shareInstance() {
    // Never destroyed: log lines may be written while the process exits.
    static const std::shared_ptr<PellixLog>* instance = [] {
        auto* p = new std::shared_ptr<PellixLog>(new PellixLog());
        (*p)->_configPrivatelyOwned();
        return p;
    }();
    return *instance;
}

void PellixLog::_configPrivatelyOwned() {
    // The MQTT client prints nothing of its own inside the SDK.
    MQTTLog::setLogLevel(0);
}

void PellixLog::enableLog() { shareInstance()->setIsPellixLogEnable(true); }
void PellixLog::disableLog() { shareInstance()->setIsPellixLogEnable(false); }
bool PellixLog::isLogEnable() { return shareInstance()->isPellixLogEnable(); }

void PellixLog::debug(std::string_view text) {
    if (!isLogEnable()) return;
    std::string line = "[PellixSDK Debug]: ";
    line.append(text);
    platform::Log::write(line);
}

void PellixLog::verbose(std::string_view text) {
    if (!isLogEnable()) return;
    std::string line = "[PellixSDK Verbose]: ";
    line.append(text);
    platform::Log::write(line);
}

}  // namespace pellix
