#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixInitUserInfo.h"

namespace pellix {

PELLIX_FIELDS(PellixInitUserInfo,
              pellixField("topic", &Self::topic_),
              pellixField("sip_domain", &Self::sip_domain_),
              pellixField("sip_no", &Self::sip_no_),
              pellixField("sip_password", &Self::sip_password_),
              pellixField("tcp_port", &Self::tcp_port_),
              pellixField("udp_port", &Self::udp_port_),
              pellixField("tls_port", &Self::tls_port_),
              pellixField("mqtt_host", &Self::mqtt_host_),
              pellixField("mqtt_port", &Self::mqtt_port_),
              pellixField("user_id", &Self::user_id_),
              pellixField("app_name", &Self::app_name_),
              pellixField("id_card_api_key", &Self::id_card_api_key_),
              pellixField("id_card_api_secret", &Self::id_card_api_secret_),
              pellixField("hos_endpoint", &Self::hos_endpoint_),
              pellixField("hos_bucket", &Self::hos_bucket_),
              pellixField("open_id", &Self::open_id_),
              pellixField("key", &Self::key_))

platform::Dictionary PellixInitUserInfo::encodeWithCoder() const { return fields().encode(*this); }

void PellixInitUserInfo::initWithCoder(const platform::Dictionary& archive) {
    // Only this record's own seventeen names; the envelope's keys are not archived.
    for (const auto& field : fields().ownFields()) {
        if (const platform::Value* value = archive.find(field.name)) field.assign(*this, *value);
    }
}

}  // namespace pellix
