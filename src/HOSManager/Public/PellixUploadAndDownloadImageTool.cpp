#include "HOSManager/Public/PellixUploadAndDownloadImageTool.h"

namespace pellix {

void PellixUploadAndDownloadImageTool::pellixUploadAndDownloadConfiguration() {
    // The storage client is configured here once the object-store tool is
    // part of the library; until then there is nothing to prepare.
}

}  // namespace pellix
