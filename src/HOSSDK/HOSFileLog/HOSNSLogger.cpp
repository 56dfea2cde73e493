#include "HOSSDK/HOSFileLog/HOSNSLogger.h"

#include "platform/Log.h"

namespace pellix {

const std::shared_ptr<HOSNSLogger>& HOSNSLogger::sharedInstance() {
    static const auto* instance = new std::shared_ptr<HOSNSLogger>(std::make_shared<HOSNSLogger>());
    return *instance;
}

void HOSNSLogger::logMessage(const HOSFLLogMessagePtr& message) {
    std::optional<std::string> line = logFormatter_ ? logFormatter_->formatLogMessage(*message)
                                                    : std::optional<std::string>(message->message());
    if (line) platform::Log::write(*line);
}

}  // namespace pellix
