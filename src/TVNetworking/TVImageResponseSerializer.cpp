#include "TVNetworking/TVImageResponseSerializer.h"

#include <mutex>

#include "platform/Device.h"

namespace pellix {

using platform::Image;

std::shared_ptr<const Image> TVSafeImageWithData(const platform::Bytes& data) {
    static std::mutex* lock = new std::mutex;  // process-wide, never freed
    std::lock_guard guard(*lock);
    return Image::withData(data);
}

std::shared_ptr<const Image> TVImageWithDataAtScale(const platform::Bytes& data, double scale) {
    auto image = TVSafeImageWithData(data);
    if (!image || image->isAnimated()) return image;
    return image->withScale(scale);
}

std::shared_ptr<const Image> TVInflatedImageFromResponseWithDataAtScale(const TVResponse&, const platform::Bytes& data,
                                                                        double scale) {
    if (data.empty()) return nullptr;
    // PNG and JPEG (CMYK included) all decode through the one platform
    // decoder, so the response's MIME type picks no separate path here.
    auto image = TVImageWithDataAtScale(data, scale);
    if (!image || image->isAnimated()) return image;
    if (std::uint64_t(image->width()) * image->height() > kTVMaxInflatedPixels || image->bitsPerComponent() > 8)
        return image;
    return image->inflated(scale);
}

std::shared_ptr<TVImageResponseSerializer> TVImageResponseSerializer::serializer() {
    return std::make_shared<TVImageResponseSerializer>();
}

TVImageResponseSerializer::TVImageResponseSerializer() : imageScale_(platform::Device::currentDevice().screenScale()) {
    setAcceptableContentTypes(std::set<std::string>{"image/tiff", "image/jpeg", "image/gif", "image/png", "image/ico",
                                                    "image/x-icon", "image/bmp", "image/x-bmp", "image/x-xbitmap",
                                                    "image/x-win-bitmap"});
}

std::shared_ptr<TVHTTPResponseSerializer> TVImageResponseSerializer::copy() const {
    auto c = std::make_shared<TVImageResponseSerializer>();
    copyInto(*c);
    c->imageScale_ = imageScale_;
    c->automaticallyInflatesResponseImage_ = automaticallyInflatesResponseImage_;
    return c;
}

TVResponseObject TVImageResponseSerializer::responseObject(const TVResponse& response, const TVResponseData& data,
                                                           platform::ErrorPtr* error) const {
    if (!passesDecodingGate(response, data, error)) return {};
    if (!data) return {};
    if (automaticallyInflatesResponseImage_)
        return TVResponseObject(TVInflatedImageFromResponseWithDataAtScale(response, *data, imageScale_));
    return TVResponseObject(TVImageWithDataAtScale(*data, imageScale_));
}

void TVImageResponseSerializer::encodeWithCoder(platform::Dictionary& coder) const {
    TVHTTPResponseSerializer::encodeWithCoder(coder);
    coder.set("imageScale", platform::Value(imageScale_));
    coder.set("automaticallyInflatesResponseImage", platform::Value(automaticallyInflatesResponseImage_));
}

void TVImageResponseSerializer::initWithCoder(const platform::Dictionary& coder) {
    TVHTTPResponseSerializer::initWithCoder(coder);
    const platform::Value* imageScale = coder.find("imageScale");
    imageScale_ = imageScale && imageScale->isNumber() ? imageScale->doubleValue() : 0.0;
    const platform::Value* automaticallyInflatesResponseImage = coder.find("automaticallyInflatesResponseImage");
    automaticallyInflatesResponseImage_ = automaticallyInflatesResponseImage && automaticallyInflatesResponseImage->isNumber() && automaticallyInflatesResponseImage->boolValue();
}

}  // namespace pellix
