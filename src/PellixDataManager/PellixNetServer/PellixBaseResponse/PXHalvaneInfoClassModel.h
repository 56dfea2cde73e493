// The platform's storage-credential reply ("/sdk/v1/halvane_tokens"):
//   {"remote_directory": {"apk_packages", "contact_management", "head_portrait",
//                         "id_cards", "visitor_images"},
//    "token": {"Credentials": {"AccessKeyId", "AccessKeySecret",
//                              "SecurityToken", "Expiration"}}}
// The field names are the wire keys as they stand, capitals included.
//
// Thread safety: plain value holders; the image tool fills one, then only
// reads it.
#pragma once

#include <memory>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixBaseModel.h"

namespace pellix {

// Temporary storage credentials; `Expiration` as "yyyy-MM-dd'T'HH:mm:ssZ".
class PXCredentials : public PellixBaseModel {
    PELLIX_RECORD(PXCredentials, PellixBaseModel)
    PELLIX_PROPERTY(PellixText, AccessKeySecret, setAccessKeySecret)
    PELLIX_PROPERTY(PellixText, AccessKeyId, setAccessKeyId)
    PELLIX_PROPERTY(PellixText, Expiration, setExpiration)
    PELLIX_PROPERTY(PellixText, SecurityToken, setSecurityToken)
};

// The top-level folder of each kind of image.
class PXRemoteDirectory : public PellixBaseModel {
    PELLIX_RECORD(PXRemoteDirectory, PellixBaseModel)
    PELLIX_PROPERTY(PellixText, id_cards, setId_cards)
    PELLIX_PROPERTY(PellixText, apk_packages, setApk_packages)
    PELLIX_PROPERTY(PellixText, contact_management, setContact_management)
    PELLIX_PROPERTY(PellixText, visitor_images, setVisitor_images)
    PELLIX_PROPERTY(PellixText, head_portrait, setHead_portrait)
};

// One credential reply. "remote_directory" fills `remoteDir` and
// "token" → "Credentials" fills `credentials`, each only from a dictionary
// (anything else there is ignored). `localExpiration` ("yyyy-MM-dd HH:mm",
// local time) is set by the download manager, never by the reply.
class PXHalvaneInfoClassModel : public PellixBaseModel {
    PELLIX_RECORD(PXHalvaneInfoClassModel, PellixBaseModel)
    PELLIX_PROPERTY(std::shared_ptr<PXCredentials>, credentials, setCredentials)
    PELLIX_PROPERTY(std::shared_ptr<PXRemoteDirectory>, remoteDir, setRemoteDir)
    PELLIX_PROPERTY(PellixText, localExpiration, setLocalExpiration)

public:
    void setValue(const platform::Value& value, const std::string& key) override;
};

}  // namespace pellix
