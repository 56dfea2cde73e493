// TVNetworkingSafeImageLoading: the image loading the HTTP layer's image
// serializer uses, for a host that decodes image data itself. Its one method
// is TVSafeImageWithData: decoding under the process-wide image loading lock,
// null when the data holds no image.
#pragma once

#include <memory>

#include "TVNetworking/TVImageResponseSerializer.h"

namespace pellix {

struct TVNetworkingSafeImageLoading {
    static std::shared_ptr<const platform::Image> tv_safeImageWithData(const platform::Bytes& data) {
        return TVSafeImageWithData(data);
    }
};

}  // namespace pellix
