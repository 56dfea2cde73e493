#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PXHalvaneInfoClassModel.h"

namespace pellix {

PELLIX_FIELDS(PXCredentials,
              pellixField("AccessKeySecret", &Self::AccessKeySecret_),
              pellixField("AccessKeyId", &Self::AccessKeyId_),
              pellixField("Expiration", &Self::Expiration_),
              pellixField("SecurityToken", &Self::SecurityToken_))

PELLIX_FIELDS(PXRemoteDirectory,
              pellixField("id_cards", &Self::id_cards_),
              pellixField("apk_packages", &Self::apk_packages_),
              pellixField("contact_management", &Self::contact_management_),
              pellixField("visitor_images", &Self::visitor_images_),
              pellixField("head_portrait", &Self::head_portrait_))

// The nested records are built by setValue, and localExpiration is never
// read from the reply, so the table itself declares nothing.
PELLIX_FIELDS(PXHalvaneInfoClassModel)

void PXHalvaneInfoClassModel::setValue(const platform::Value& value, const std::string& key) {
    if (key == "remote_directory") {
        if (const platform::Dictionary* d = value.dictionaryIf()) remoteDir_ = make<PXRemoteDirectory>(*d);
        return;
    }
    if (key == "token") {
        const platform::Dictionary* token = value.dictionaryIf();
        const platform::Value* inner = token ? token->find("Credentials") : nullptr;
        if (const platform::Dictionary* d = inner ? inner->dictionaryIf() : nullptr)
            credentials_ = make<PXCredentials>(*d);
        return;
    }
    PellixBaseModel::setValue(value, key);
}

}  // namespace pellix
