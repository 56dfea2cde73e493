#include "BWSocket/BWAdditions.h"

#include "BWSocket/BWHandshake.h"

namespace pellix {

std::string BW_origin(const platform::URL& url) { return BWOrigin(url); }

std::optional<std::vector<platform::Bytes>> BW_SSLPinnedCertificates(const platform::URLRequest& request) {
    const auto value = request.propertyForKey(kBWSSLPinnedCertificatesKey);
    if (!value || !value->isArray()) return std::nullopt;
    std::vector<platform::Bytes> certificates;
    for (const auto& item : value->asArray())
        if (item.isBytes()) certificates.push_back(item.asBytes());
    return certificates;
}

void setSR_SSLPinnedCertificates(platform::URLRequest& request,
                                 std::optional<std::vector<platform::Bytes>> certificates) {
    if (!certificates) {
        request.setProperty(std::nullopt, kBWSSLPinnedCertificatesKey);
        return;
    }
    platform::Array items;
    items.reserve(certificates->size());
    for (auto& der : *certificates) items.emplace_back(std::move(der));
    request.setProperty(platform::Value(std::move(items)), kBWSSLPinnedCertificatesKey);
}

platform::SocketReactor& BW_networkRunLoop() { return platform::SocketReactor::shared(); }

}  // namespace pellix
