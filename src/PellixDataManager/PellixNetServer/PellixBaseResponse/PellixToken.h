// PellixToken: the access token record (body of the token operation), kept
// by the session store and archived to the token file.
//
// `sign` is the signing key of every request's "sign" parameter (decrypted
// from `sign_key`); `updateDate` is when the token was fetched; `key` ties
// the token to the credentials and environment it was issued for
// ("<app id>:<secret>:<mode>"). Not synchronised.
#pragma once

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixBaseResponse.h"

namespace pellix {

class PellixToken : public PellixBaseResponse {
    PELLIX_RECORD(PellixToken, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, token, setToken)
    PELLIX_PROPERTY(PellixText, expires_in, setExpires_in)
    PELLIX_PROPERTY(PellixText, sign, setSign)
    PELLIX_PROPERTY(PellixText, sign_key, setSign_key)
    PELLIX_PROPERTY(PellixDate, updateDate, setUpdateDate)
    PELLIX_PROPERTY(PellixText, key, setKey)

public:
    // Archived under "token", "expires_in", "sign_key", "sign", "updateDate"
    // (seconds since 1970) and "key".
    platform::Dictionary encodeWithCoder() const override;
    void initWithCoder(const platform::Dictionary& archive) override;
};

}  // namespace pellix
