// TVImageResponseSerializer: decodes PNG, JPEG and GIF bodies into a
// platform::Image at `imageScale` (default: the screen's scale).
//
// With automaticallyInflatesResponseImage (default on) the pixels are decoded
// at once, on the serializer's background thread, so the first display does
// not decode on the main thread; images above 1024 × 1024 pixels, above 8
// bits per component or animated keep their lazy decoding. A body that holds
// no image (or whose pixels turn out damaged on inflation) yields nothing and
// no error. Every image made from data goes through one process-wide lock.
#pragma once

#include "TVNetworking/TVHTTPResponseSerializer.h"

namespace pellix {

class TVImageResponseSerializer : public TVHTTPResponseSerializer {
public:
    static std::shared_ptr<TVImageResponseSerializer> serializer();
    TVImageResponseSerializer();

    double imageScale() const { return imageScale_; }
    void setImageScale(double scale) { imageScale_ = scale; }
    bool automaticallyInflatesResponseImage() const { return automaticallyInflatesResponseImage_; }
    void setAutomaticallyInflatesResponseImage(bool v) { automaticallyInflatesResponseImage_ = v; }

    std::shared_ptr<TVHTTPResponseSerializer> copy() const override;
    const char* className() const override { return "TVImageResponseSerializer"; }
    void encodeWithCoder(platform::Dictionary& coder) const override;
    void initWithCoder(const platform::Dictionary& coder) override;
    TVResponseObject responseObject(const TVResponse& response, const TVResponseData& data,
                                    platform::ErrorPtr* error) const override;

private:
    double imageScale_;
    bool automaticallyInflatesResponseImage_ = true;
};

// Pixel count above which inflation is skipped.
inline constexpr std::uint64_t kTVMaxInflatedPixels = 1024 * 1024;

// An image from data, made under the process-wide image loading lock; null
// when the data holds no image.
std::shared_ptr<const platform::Image> TVSafeImageWithData(const platform::Bytes& data);
// The image of `data` at `scale` (an animated image as it is); null when the
// data holds no image.
std::shared_ptr<const platform::Image> TVImageWithDataAtScale(const platform::Bytes& data, double scale);
// As TVImageWithDataAtScale, with the pixels decoded now unless the image is
// animated, above kTVMaxInflatedPixels or above 8 bits per component. Null
// for an empty body, no image, or pixel data found damaged on inflation.
std::shared_ptr<const platform::Image> TVInflatedImageFromResponseWithDataAtScale(const TVResponse& response,
                                                                                const platform::Bytes& data,
                                                                                double scale);

}  // namespace pellix
