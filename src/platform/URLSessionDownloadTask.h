// URLSessionDownloadTask: a task whose response body is written to a temporary file
// that the delegate (or the completion handler) receives at the end and must
// move away before returning: the file is removed afterwards.
#pragma once

#include "platform/URLSessionTask.h"

namespace pellix::platform {

class URLSessionDownloadTask : public URLSessionTask {
public:
    URLSessionDownloadTask(std::uint64_t identifier, URLRequest request, std::weak_ptr<URLSessionEngine> engine)
        : URLSessionTask(Kind::Download, identifier, std::move(request), std::move(engine)) {}
};

}  // namespace pellix::platform
