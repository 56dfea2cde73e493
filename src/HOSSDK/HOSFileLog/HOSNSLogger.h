// HOSNSLogger: writes each record's line to the system log (platform::Log).
// One shared instance, created on first use; its queue is labelled
// "HOSNSLogger".
#pragma once

#include <memory>

#include "HOSSDK/HOSFileLog/HOSFLAbstractLogger.h"

namespace pellix {

class HOSNSLogger : public HOSFLAbstractLogger {
public:
    HOSNSLogger() : HOSFLAbstractLogger("HOSNSLogger") {}
    static const std::shared_ptr<HOSNSLogger>& sharedInstance();

    // The formatter's line when one is set (none: nothing is written), else
    // the record's message.
    void logMessage(const HOSFLLogMessagePtr& message) override;
};

}  // namespace pellix
