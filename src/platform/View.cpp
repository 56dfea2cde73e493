#include "platform/View.h"

#include <algorithm>

namespace pellix::platform {

void View::addSubview(const std::shared_ptr<View>& view) {
    if (!view || view.get() == this) return;
    // A view never becomes its own ancestor: that would make a cycle of
    // strong references and an endless layout pass.
    for (auto up = superview(); up; up = up->superview()) {
        if (up == view) return;
    }
    auto keep = view;  // removeFromSuperview may drop the last other owner
    view->removeFromSuperview();
    view->superview_ = weak_from_this();
    subviews_.push_back(view);
    setNeedsLayout();
}

void View::removeFromSuperview() {
    auto parent = superview();
    superview_.reset();
    if (!parent) return;
    auto& list = parent->subviews_;
    list.erase(std::remove_if(list.begin(), list.end(), [this](const auto& v) { return v.get() == this; }), list.end());
    parent->forgetConstraintsNaming(this);
    parent->setNeedsLayout();
}

void View::addConstraint(LayoutConstraint constraint) {
    constraints_.push_back(std::move(constraint));
    setNeedsLayout();
}

void View::forgetConstraintsNaming(const View* gone) {
    auto names = [gone](const LayoutConstraint& c) {
        return c.firstItem.lock().get() == gone || c.secondItem.lock().get() == gone || c.firstItem.expired() ||
               c.secondItem.expired();
    };
    constraints_.erase(std::remove_if(constraints_.begin(), constraints_.end(), names), constraints_.end());
}

void View::layoutIfNeeded() {
    if (needsLayout_) {
        needsLayout_ = false;
        layoutSubviews();
    }
    // A copy: a layout pass may rearrange the subviews.
    const auto children = subviews_;
    for (const auto& child : children) child->layoutIfNeeded();
}

}  // namespace pellix::platform
