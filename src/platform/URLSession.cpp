#include "platform/URLSession.h"

#include "platform/URLSessionEngine.h"

namespace pellix::platform {

std::shared_ptr<URLSession> URLSession::sharedSession() {
    static std::shared_ptr<URLSession>* session = new std::shared_ptr<URLSession>(
        make(URLSessionConfiguration::defaultSessionConfiguration(), nullptr, nullptr, true));
    return *session;
}

std::shared_ptr<URLSession> URLSession::sessionWithConfiguration(const URLSessionConfiguration& configuration) {
    return make(configuration, nullptr, nullptr, false);
}

std::shared_ptr<URLSession> URLSession::sessionWithConfiguration(const URLSessionConfiguration& configuration,
                                                                 std::shared_ptr<URLSessionDelegate> delegate,
                                                                 std::shared_ptr<OperationQueue> delegateQueue) {
    return make(configuration, std::move(delegate), std::move(delegateQueue), false);
}

std::shared_ptr<URLSession> URLSession::make(const URLSessionConfiguration& configuration,
                                             std::shared_ptr<URLSessionDelegate> delegate,
                                             std::shared_ptr<OperationQueue> queue, bool shared) {
    if (!queue) {
        queue = OperationQueue::create("com.pellix.urlsession.delegate");
        queue->setMaxConcurrentOperationCount(1);
    }
    std::shared_ptr<URLSession> session(new URLSession());
    auto engine = std::make_shared<URLSessionEngine>(configuration, std::move(delegate), std::move(queue), shared);
    URLSessionEngine::attach(*session, engine);
    engine->start(session);
    return session;
}

URLSession::~URLSession() = default;

const URLSessionConfiguration& URLSession::configuration() const { return engine_->configuration(); }
std::shared_ptr<URLSessionDelegate> URLSession::delegate() const { return engine_->delegate(); }
const std::shared_ptr<OperationQueue>& URLSession::delegateQueue() const { return engine_->delegateQueue(); }
std::optional<std::string> URLSession::sessionDescription() const { return engine_->sessionDescription(); }
void URLSession::setSessionDescription(std::optional<std::string> d) { engine_->setSessionDescription(std::move(d)); }

using Body = URLSessionEngine::Body;
using BodyKind = URLSessionEngine::BodyKind;

static Body bodyOf(const URLRequest& request) {
    Body b;
    if (request.httpBody() && !request.httpBody()->empty()) {
        b.kind = BodyKind::Bytes;
        b.bytes = std::make_shared<const Bytes>(*request.httpBody());
    } else if (request.httpBodyStream()) {
        b.kind = BodyKind::Stream;
        b.stream = request.httpBodyStream();
    }
    return b;
}

URLSession::DataTaskPtr URLSession::dataTaskWithRequest(const URLRequest& request) {
    return std::static_pointer_cast<URLSessionDataTask>(
        engine_->makeTask(URLSessionTask::Kind::Data, request, bodyOf(request), nullptr, nullptr));
}

URLSession::DataTaskPtr URLSession::dataTaskWithRequest(const URLRequest& request, DataCompletion completion) {
    return std::static_pointer_cast<URLSessionDataTask>(
        engine_->makeTask(URLSessionTask::Kind::Data, request, bodyOf(request), std::move(completion), nullptr));
}

URLSession::DataTaskPtr URLSession::dataTaskWithURL(const URL& url) { return dataTaskWithRequest(URLRequest(url)); }

URLSession::DataTaskPtr URLSession::dataTaskWithURL(const URL& url, DataCompletion completion) {
    return dataTaskWithRequest(URLRequest(url), std::move(completion));
}

static Body fileBody(const URL& file) {
    Body b;
    b.kind = BodyKind::File;
    b.path = file.isFileURL() ? file.path() : file.absoluteString();
    return b;
}

static Body bytesBody(Bytes data) {
    Body b;
    b.kind = BodyKind::Bytes;
    b.bytes = std::make_shared<const Bytes>(std::move(data));
    return b;
}

URLSession::UploadTaskPtr URLSession::uploadTaskWithRequest(const URLRequest& request, const URL& fromFile) {
    return std::static_pointer_cast<URLSessionUploadTask>(
        engine_->makeTask(URLSessionTask::Kind::Upload, request, fileBody(fromFile), nullptr, nullptr));
}

URLSession::UploadTaskPtr URLSession::uploadTaskWithRequest(const URLRequest& request, const URL& fromFile,
                                                            DataCompletion completion) {
    return std::static_pointer_cast<URLSessionUploadTask>(
        engine_->makeTask(URLSessionTask::Kind::Upload, request, fileBody(fromFile), std::move(completion), nullptr));
}

URLSession::UploadTaskPtr URLSession::uploadTaskWithRequest(const URLRequest& request, Bytes fromData) {
    return std::static_pointer_cast<URLSessionUploadTask>(
        engine_->makeTask(URLSessionTask::Kind::Upload, request, bytesBody(std::move(fromData)), nullptr, nullptr));
}

URLSession::UploadTaskPtr URLSession::uploadTaskWithRequest(const URLRequest& request, Bytes fromData,
                                                            DataCompletion completion) {
    return std::static_pointer_cast<URLSessionUploadTask>(engine_->makeTask(
        URLSessionTask::Kind::Upload, request, bytesBody(std::move(fromData)), std::move(completion), nullptr));
}

URLSession::UploadTaskPtr URLSession::uploadTaskWithStreamedRequest(const URLRequest& request) {
    Body b;
    if (request.httpBodyStream()) {
        b.kind = BodyKind::Stream;
        b.stream = request.httpBodyStream();
    }
    return std::static_pointer_cast<URLSessionUploadTask>(
        engine_->makeTask(URLSessionTask::Kind::Upload, request, b, nullptr, nullptr));
}

URLSession::DownloadTaskPtr URLSession::downloadTaskWithRequest(const URLRequest& request) {
    return std::static_pointer_cast<URLSessionDownloadTask>(
        engine_->makeTask(URLSessionTask::Kind::Download, request, bodyOf(request), nullptr, nullptr));
}

URLSession::DownloadTaskPtr URLSession::downloadTaskWithRequest(const URLRequest& request,
                                                                DownloadCompletion completion) {
    return std::static_pointer_cast<URLSessionDownloadTask>(
        engine_->makeTask(URLSessionTask::Kind::Download, request, bodyOf(request), nullptr, std::move(completion)));
}

void URLSession::finishTasksAndInvalidate() { engine_->invalidate(false); }
void URLSession::invalidateAndCancel() { engine_->invalidate(true); }

void URLSession::getTasksWithCompletionHandler(
    std::function<void(std::vector<DataTaskPtr>, std::vector<UploadTaskPtr>, std::vector<DownloadTaskPtr>)> handler) {
    engine_->getTasks([handler = std::move(handler)](std::vector<TaskPtr> tasks) {
        std::vector<DataTaskPtr> data;
        std::vector<UploadTaskPtr> upload;
        std::vector<DownloadTaskPtr> download;
        for (auto& t : tasks) {
            switch (t->kind()) {
                case URLSessionTask::Kind::Data: data.push_back(std::static_pointer_cast<URLSessionDataTask>(t)); break;
                case URLSessionTask::Kind::Upload:
                    upload.push_back(std::static_pointer_cast<URLSessionUploadTask>(t));
                    break;
                case URLSessionTask::Kind::Download:
                    download.push_back(std::static_pointer_cast<URLSessionDownloadTask>(t));
                    break;
            }
        }
        handler(std::move(data), std::move(upload), std::move(download));
    });
}

void URLSession::getAllTasksWithCompletionHandler(std::function<void(std::vector<TaskPtr>)> handler) {
    engine_->getTasks(std::move(handler));
}

}  // namespace pellix::platform
