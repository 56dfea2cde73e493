#include "HOSManager/Public/PellixUploadAndDownloadImageTool.h"

#include "platform/DispatchQueue.h"

namespace pellix {

// Until the storage tool lands every call fails on the main queue, so callers
// written against this interface already see exactly one outcome.
void PellixUploadAndDownloadImageTool::uploadImageData(const platform::Bytes&, std::int64_t, UploadSuccess,
                                                       UploadFailure failure) {
    if (failure) platform::DispatchQueue::main()->async([failure] { failure(); });
}

void PellixUploadAndDownloadImageTool::uploadImageDatas(const std::vector<platform::Bytes>&, std::int64_t,
                                                        UploadsSuccess, UploadFailure failure) {
    if (failure) platform::DispatchQueue::main()->async([failure] { failure(); });
}

void PellixUploadAndDownloadImageTool::downloadWithImageObjectKey(const PellixText& imageObjectKey, DownloadSuccess,
                                                                  DownloadFailure failure) {
    if (failure) platform::DispatchQueue::main()->async([failure, imageObjectKey] { failure(imageObjectKey); });
}

void PellixUploadAndDownloadImageTool::pellixUploadAndDownloadConfiguration() {}

}  // namespace pellix
