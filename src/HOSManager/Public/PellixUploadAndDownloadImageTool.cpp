#include "HOSManager/Public/PellixUploadAndDownloadImageTool.h"

#include "HOSManager/PellixHalvaneUploadAndDownloadTool.h"

namespace pellix {

void PellixUploadAndDownloadImageTool::uploadImageData(const platform::Bytes& imageData, std::int64_t directoryType,
                                                       UploadSuccess success, UploadFailure failure) {
    PellixHalvaneUploadAndDownloadTool::uploadImageData(imageData, directoryType, std::move(success),
                                                        std::move(failure));
}

void PellixUploadAndDownloadImageTool::uploadImageDatas(const std::vector<platform::Bytes>& imageDatas,
                                                        std::int64_t directoryType, UploadsSuccess success,
                                                        UploadFailure failure) {
    PellixHalvaneUploadAndDownloadTool::uploadImageDatas(imageDatas, directoryType, std::move(success),
                                                         std::move(failure));
}

void PellixUploadAndDownloadImageTool::downloadWithImageObjectKey(const PellixText& imageObjectKey,
                                                                  DownloadSuccess success, DownloadFailure failure) {
    PellixHalvaneUploadAndDownloadTool::downloadWithImageObjectKey(imageObjectKey, std::move(success),
                                                                   std::move(failure));
}

void PellixUploadAndDownloadImageTool::pellixUploadAndDownloadConfiguration() {
    PellixHalvaneUploadAndDownloadTool::refreshHalvaneConfiguration();
}

}  // namespace pellix
