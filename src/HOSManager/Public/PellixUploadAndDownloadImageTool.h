// PellixUploadAndDownloadImageTool: images to and from the object store
// under short-lived storage credentials issued by the platform.
//
// Thread safety: class methods may be called from any thread.
#pragma once

namespace pellix {

class PellixUploadAndDownloadImageTool {
public:
    // Prepares the storage client for the logged-in resident (after a login
    // and when a cached user record is replayed at registration).
    static void pellixUploadAndDownloadConfiguration();
};

}  // namespace pellix
