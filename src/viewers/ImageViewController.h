#pragma once

#include "platform/uikit/UIScrollView.h"
#include "platform/uikit/UISegmentedControl.h"
#include "viewers/VeskFileViewController.h"

namespace vesk {

// One picture in a zoomable scroll view (1x to 10x), animated GIFs playing, and a choice of a
// light or gray background.
class ImageViewController : public VeskFileViewController, public platform::UIScrollViewDelegate {
public:
    // Pictures are read whole; bigger files, and anything but a regular file, get the error banner.
    static constexpr std::uint64_t maximumImageBytes = 256u << 20;

    ~ImageViewController() override;

    std::shared_ptr<platform::UIScrollView> scrollView() const { return m_scrollView.lock(); }
    void setScrollView(const std::shared_ptr<platform::UIScrollView>& view) { m_scrollView = view; }
    std::shared_ptr<platform::UIImageView> imageView() const { return m_imageView.lock(); }
    void setImageView(const std::shared_ptr<platform::UIImageView>& view) { m_imageView = view; }
    std::shared_ptr<platform::UISegmentedControl> segmentedControl() const { return m_segmentedControl.lock(); }
    void setSegmentedControl(const std::shared_ptr<platform::UISegmentedControl>& control) { m_segmentedControl = control; }

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void didReceiveMemoryWarning() override;
    virtual void segmentChanged(platform::UISegmentedControl& control);
    std::shared_ptr<platform::UIView> viewForZoomingInScrollView(platform::UIScrollView&) override;

private:
    void loadImage();

    std::weak_ptr<platform::UIScrollView> m_scrollView;
    std::weak_ptr<platform::UIImageView> m_imageView;
    std::weak_ptr<platform::UISegmentedControl> m_segmentedControl;
};

}
