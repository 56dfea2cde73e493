#include "HOSSDK/HOSFileLog/HOSFLLogMessage.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

#include "platform/Clock.h"
#include "platform/DispatchQueue.h"

namespace pellix {

std::optional<std::string> HOSFLExtractFileNameWithoutExtension(const char* path, bool) {
    if (!path) return std::nullopt;
    const char* lastSlash = nullptr;
    const char* lastDot = nullptr;
    const char* p = path;
    for (; *p; ++p) {
        if (*p == '/')
            lastSlash = p;
        else if (*p == '.')
            lastDot = p;
    }
    const char* start = lastSlash ? lastSlash + 1 : path;
    const char* end = (lastDot && lastDot > start) ? lastDot : p;
    return std::string(start, end);
}

HOSFLLogMessage::HOSFLLogMessage(std::string message, std::uint64_t level, std::uint64_t flag, std::int64_t context,
                                 std::string file, std::string function, std::uint64_t line, std::any tag,
                                 std::int64_t options, std::optional<double> timestamp)
    : message_(std::move(message)),
      level_(level),
      flag_(flag),
      context_(context),
      file_(std::move(file)),
      function_(std::move(function)),
      line_(line),
      tag_(std::move(tag)),
      options_(options),
      timestamp_(timestamp ? *timestamp : platform::Clock::now()),
      threadID_(std::to_string(static_cast<unsigned long long>(::syscall(SYS_gettid)))),
      queueLabel_(platform::DispatchQueue::currentLabel()) {
    fileName_ = HOSFLExtractFileNameWithoutExtension(file_.c_str(), true).value_or("");
    char name[64] = {0};
    if (pthread_getname_np(pthread_self(), name, sizeof name) == 0 && name[0]) threadName_ = name;
}

}  // namespace pellix
