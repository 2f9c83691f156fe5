#include "viewers/UnknownViewController.h"

#include "model/VeskFile.h"
#include "model/VeskFileManager.h"
#include "platform/foundation/Dispatch.h"

#include <algorithm>

namespace vesk {

using namespace platform;

void UnknownViewController::loadView()
{
    UIViewController::loadView();
    auto area = loadScene({});
    CGFloat side = std::min<CGFloat>(200, std::min(area.size.width, area.size.height));
    auto image = std::make_shared<UIImageView>(CGRectMake((area.size.width - side) / 2, area.origin.y + (area.size.height - side) / 2, side, side));
    image->setContentMode(UIViewContentMode::ScaleAspectFit);
    view()->addSubview(image);
    setImageView(image);
}

void UnknownViewController::viewDidLoad()
{
    VeskFileViewController::viewDidLoad();
    auto current = file();
    if (!current)
        return;
    // The screen stays alive until the icon is in place, even when closed before, and goes
    // back to the main queue with it, so it never ends on a worker.
    auto self = std::static_pointer_cast<UnknownViewController>(shared_from_this());
    DispatchQueue::global(QualityOfService::UserInitiated).async([self, path = current->path()]() mutable {
        auto icon = VeskFileManager::defaultManager().getImageForFileAtPath(path);
        DispatchQueue::main().async([self = std::move(self), icon] {
            if (auto view = self->imageView())
                view->setImage(icon);
        });
    });
}

void UnknownViewController::didReceiveMemoryWarning()
{
    gotMemoryWarning(__FILE__);
}

}
