// PellixResponseImage: the body element of an image answer, which carries
// the decoded image instead of JSON fields. Not synchronised.
#pragma once

#include <memory>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixBaseModel.h"
#include "platform/Image.h"

namespace pellix {

class PellixResponseImage : public PellixBaseModel {
public:
    static constexpr const char* kClassName = "PellixResponseImage";
    explicit PellixResponseImage(std::shared_ptr<const platform::Image> image) : image_(std::move(image)) {}
    const std::shared_ptr<const platform::Image>& image() const { return image_; }
    const char* className() const override { return kClassName; }

private:
    std::shared_ptr<const platform::Image> image_;
};

}  // namespace pellix
