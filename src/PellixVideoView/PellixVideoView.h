// PellixVideoView: a container the host hands the SDK for one call picture
// (its own camera or the far end). During a call the SDK puts the engine's
// render view inside it, pinned to its four edges; when the call ends the
// SDK empties it and takes it out of its superview. The host owns it and
// draws the render view's latest picture.
//
// Threads: main thread only.
#pragma once

#include <memory>

#include "platform/View.h"

namespace pellix {

class PellixVideoView : public platform::View {
public:
    static std::shared_ptr<PellixVideoView> create() { return std::make_shared<PellixVideoView>(); }
    void layoutSubviews() override { platform::View::layoutSubviews(); }
};

}  // namespace pellix
