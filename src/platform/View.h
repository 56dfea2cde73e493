// View: a node of the host's view tree, as far as the library needs one.
//
// A view has at most one superview (held weakly) and an ordered list of
// subviews (held strongly). Adding a view that already has a superview moves
// it. Layout constraints between a view and its subviews are recorded for the
// host's layout pass; a constraint that names a view goes away when that view
// leaves the tree under the view that holds the constraint. Layout is
// deferred: `setNeedsLayout` marks the view, `layoutIfNeeded` runs
// `layoutSubviews` on the marked views of the subtree, top-down.
//
// Drawing is the host's: the library only puts content views in place.
//
// Threads: main thread only, as the phone's views.
#pragma once

#include <memory>
#include <vector>

namespace pellix::platform {

class View;

struct LayoutConstraint {
    enum class Attribute { Leading, Trailing, Top, Bottom };
    enum class Relation { LessThanOrEqual = -1, Equal = 0, GreaterThanOrEqual = 1 };
    std::weak_ptr<View> firstItem;
    Attribute firstAttribute;
    Relation relation;
    std::weak_ptr<View> secondItem;
    Attribute secondAttribute;
    double multiplier = 1.0;
    double constant = 0.0;
};

class View : public std::enable_shared_from_this<View> {
public:
    View() = default;
    virtual ~View() = default;
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    std::shared_ptr<View> superview() const { return superview_.lock(); }
    const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
    void addSubview(const std::shared_ptr<View>& view);
    void removeFromSuperview();

    bool translatesAutoresizingMaskIntoConstraints() const { return translatesMask_; }
    void setTranslatesAutoresizingMaskIntoConstraints(bool on) { translatesMask_ = on; }
    void addConstraint(LayoutConstraint constraint);
    const std::vector<LayoutConstraint>& constraints() const { return constraints_; }

    void setNeedsLayout() { needsLayout_ = true; }
    bool needsLayout() const { return needsLayout_; }
    void layoutIfNeeded();
    // Positions the subviews; the base does nothing.
    virtual void layoutSubviews() {}

private:
    void forgetConstraintsNaming(const View* gone);

    std::weak_ptr<View> superview_;
    std::vector<std::shared_ptr<View>> subviews_;
    std::vector<LayoutConstraint> constraints_;
    bool translatesMask_ = true;
    bool needsLayout_ = false;
};

}  // namespace pellix::platform
