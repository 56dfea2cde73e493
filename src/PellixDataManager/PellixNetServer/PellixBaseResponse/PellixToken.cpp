#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixToken.h"

namespace pellix {

PELLIX_FIELDS(PellixToken,
              pellixField("token", &Self::token_),
              pellixField("expires_in", &Self::expires_in_),
              pellixField("sign", &Self::sign_),
              pellixField("sign_key", &Self::sign_key_),
              pellixField("updateDate", &Self::updateDate_),
              pellixField("key", &Self::key_))

platform::Dictionary PellixToken::encodeWithCoder() const {
    return fields().encode(*this, {"token", "expires_in", "sign_key", "sign", "updateDate", "key"});
}

void PellixToken::initWithCoder(const platform::Dictionary& archive) {
    fields().decode(*this, archive, {"token", "expires_in", "sign_key", "sign", "updateDate", "key"});
}

}  // namespace pellix
