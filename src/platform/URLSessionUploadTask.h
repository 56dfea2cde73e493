// URLSessionUploadTask: a data task whose request body comes from bytes, a file or a
// stream, given when it is created.
#pragma once

#include "platform/URLSessionDataTask.h"

namespace pellix::platform {

class URLSessionUploadTask : public URLSessionDataTask {
public:
    URLSessionUploadTask(std::uint64_t identifier, URLRequest request, std::weak_ptr<URLSessionEngine> engine)
        : URLSessionDataTask(Kind::Upload, identifier, std::move(request), std::move(engine)) {}
};

}  // namespace pellix::platform
