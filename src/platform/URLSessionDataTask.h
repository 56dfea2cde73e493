// URLSessionDataTask: a task whose response body reaches the delegate (or the
// completion handler) in memory.
#pragma once

#include "platform/URLSessionTask.h"

namespace pellix::platform {

class URLSessionDataTask : public URLSessionTask {
public:
    URLSessionDataTask(std::uint64_t identifier, URLRequest request, std::weak_ptr<URLSessionEngine> engine)
        : URLSessionTask(Kind::Data, identifier, std::move(request), std::move(engine)) {}

protected:
    URLSessionDataTask(Kind kind, std::uint64_t identifier, URLRequest request, std::weak_ptr<URLSessionEngine> engine)
        : URLSessionTask(kind, identifier, std::move(request), std::move(engine)) {}
};

}  // namespace pellix::platform
