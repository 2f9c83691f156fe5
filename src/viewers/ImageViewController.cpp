#include "viewers/ImageViewController.h"

#include "model/PlatformUtilities.h"
#include "model/VeskFile.h"
#include "model/VeskLocalizer.h"
#include "platform/foundation/Dispatch.h"
#include "viewers/UIImageVesk.h"

#include <malloc.h>
#include <sys/stat.h>

#include <mutex>

namespace vesk {

using namespace platform;

ImageViewController::~ImageViewController()
{
    if (auto image = imageView()) {
        image->layer().removeAllAnimations();
        image->stopAnimating();
        image->removeFromSuperview();
    }
    m_imageView.reset();
}

void ImageViewController::loadView()
{
    UIViewController::loadView();
    auto segments = std::make_shared<UISegmentedControl>(std::vector<std::string> { "Light", "Gray" });
    segments->setFrame(CGRectMake(0, 0, 140, 29));
    std::weak_ptr<UIViewController> weak = weak_from_this();
    segments->addTarget(UIControlEvent::ValueChanged, [weak](UIControl& control) {
        if (auto screen = std::dynamic_pointer_cast<ImageViewController>(weak.lock()))
            screen->segmentChanged(static_cast<UISegmentedControl&>(control));
    });
    setSegmentedControl(segments);
    auto area = loadScene({ std::make_shared<UIBarButtonItem>(segments) });
    auto scroll = std::make_shared<UIScrollView>(area);
    auto image = std::make_shared<UIImageView>(scroll->bounds());
    scroll->addSubview(image);
    scroll->setContentSize(area.size);
    view()->addSubview(scroll);
    setScrollView(scroll);
    setImageView(image);
}

void ImageViewController::viewDidLoad()
{
    VeskFileViewController::viewDidLoad();
    if (auto scroll = scrollView()) {
        scroll->setDelegate(std::static_pointer_cast<ImageViewController>(shared_from_this()));
        scroll->setAlwaysBounceVertical(false);
        scroll->setAlwaysBounceHorizontal(false);
        scroll->setShowsVerticalScrollIndicator(true);
        scroll->flashScrollIndicators();
        scroll->setMinimumZoomScale(1.0);
        scroll->setMaximumZoomScale(10.0);
    }
    loadImage();
    if (auto segments = segmentedControl())
        segments->setSelectedSegmentIndex(0);
}

void ImageViewController::loadImage()
{
    auto current = file();
    if (!current)
        return;
    // What decoding needs on the way (a file's bytes, a decoder's own pixels) is large and freed
    // on a worker thread, where the allocator keeps the top of its heap for that thread's next
    // work: large blocks get mappings of their own, which go back to the system when freed.
    static std::once_flag largeBlocksMapped;
    std::call_once(largeBlocksMapped, [] { ::mallopt(M_MMAP_THRESHOLD, 1 << 20); });
    // Held weakly: a screen closed while its picture is decoded is gone at once, and the
    // picture is dropped.
    std::weak_ptr<ImageViewController> weak = std::static_pointer_cast<ImageViewController>(shared_from_this());
    DispatchQueue::global(QualityOfService::UserInitiated).async([weak, path = current->path()] {
        // A missing or undecodable picture leaves the view empty; one that can't be read at all
        // (a FIFO or device would block or never end) or is too big is an error.
        struct stat info { };
        bool unreadable = ::stat(path.c_str(), &info) == 0 && (!S_ISREG(info.st_mode) || static_cast<std::uint64_t>(info.st_size) > maximumImageBytes);
        std::shared_ptr<UIImage> image;
        if (!unreadable)
            image = path.ends_with("gif") ? UIImageVesk::animatedImageWithGIFAtPath(path) : UIImage::imageWithContentsOfFile(path);
        DispatchQueue::main().async([weak, image, unreadable] {
            auto self = weak.lock();
            if (!self)
                return;
            if (unreadable) {
                self->showErrorAndClose();
                return;
            }
            auto view = self->imageView();
            if (!view)
                return;
            auto frame = view->frame();
            bool larger = image && (image->size().height > frame.size.height || image->size().width > frame.size.width);
            view->setContentMode(larger ? UIViewContentMode::ScaleAspectFit : UIViewContentMode::Center);
            view->setImage(image);
        });
    });
}

void ImageViewController::viewWillAppear(bool animated)
{
    reportMemory();
    VeskFileViewController::viewWillAppear(animated);
    if (auto segments = segmentedControl()) {
        segments->setTitle(localized("Light"), 0);
        segments->setTitle(localized("Gray"), 1);
    }
}

void ImageViewController::segmentChanged(UISegmentedControl& control)
{
    view()->setBackgroundColor(control.selectedSegmentIndex() == 0 ? UIColor::whiteColor() : UIColor::grayColor());
}

std::shared_ptr<UIView> ImageViewController::viewForZoomingInScrollView(UIScrollView&)
{
    return imageView();
}

void ImageViewController::didReceiveMemoryWarning()
{
    gotMemoryWarning(__FILE__);
}

}
