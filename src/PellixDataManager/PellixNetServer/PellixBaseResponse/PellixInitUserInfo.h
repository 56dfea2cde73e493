// PellixInitUserInfo: the user record (body of the login operation), kept by
// the session store and archived to the user file.
//
// `topic` lists the room topics the MQTT connection subscribes; `sip_no`,
// `sip_password`, `sip_domain` and `udp_port` make the SIP account;
// `mqtt_host` / `mqtt_port` may replace the environment's broker; `user_id`,
// `hos_endpoint`, `hos_bucket` serve the image tool; `id_card_api_key` /
// `id_card_api_secret` are the OCR credentials; `key` is set by the SDK to
// "mode:<mode>". Not synchronised.
#pragma once

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixBaseResponse.h"

namespace pellix {

class PellixInitUserInfo : public PellixBaseResponse {
    PELLIX_RECORD(PellixInitUserInfo, PellixBaseResponse)
    PELLIX_PROPERTY(PellixTextList, topic, setTopic)
    PELLIX_PROPERTY(PellixText, sip_domain, setSip_domain)
    PELLIX_PROPERTY(PellixText, sip_no, setSip_no)
    PELLIX_PROPERTY(PellixText, sip_password, setSip_password)
    PELLIX_PROPERTY(PellixText, tcp_port, setTcp_port)
    PELLIX_PROPERTY(PellixText, udp_port, setUdp_port)
    PELLIX_PROPERTY(PellixText, tls_port, setTls_port)
    PELLIX_PROPERTY(PellixText, mqtt_host, setMqtt_host)
    PELLIX_PROPERTY(PellixText, mqtt_port, setMqtt_port)
    PELLIX_PROPERTY(PellixText, user_id, setUser_id)
    PELLIX_PROPERTY(PellixText, app_name, setApp_name)
    PELLIX_PROPERTY(PellixText, id_card_api_key, setId_card_api_key)
    PELLIX_PROPERTY(PellixText, id_card_api_secret, setId_card_api_secret)
    PELLIX_PROPERTY(PellixText, hos_endpoint, setHos_endpoint)
    PELLIX_PROPERTY(PellixText, hos_bucket, setHos_bucket)
    PELLIX_PROPERTY(PellixText, open_id, setOpen_id)
    PELLIX_PROPERTY(PellixText, key, setKey)

public:
    // Archived under the seventeen property names, in declaration order.
    platform::Dictionary encodeWithCoder() const override;
    void initWithCoder(const platform::Dictionary& archive) override;
};

}  // namespace pellix
