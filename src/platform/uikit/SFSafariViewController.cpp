#include "platform/uikit/SFSafariViewController.h"

#include "platform/foundation/Dispatch.h"
#include "platform/system/DesktopServices.h"

namespace vesk::platform {

SFSafariViewController::SFSafariViewController(NSURL url, bool entersReaderIfAvailable)
    : m_url(std::move(url))
    , m_entersReader(entersReaderIfAvailable)
{
}

void SFSafariViewController::viewDidAppear(bool animated)
{
    UIViewController::viewDidAppear(animated);
    if (m_opened)
        return;
    m_opened = true;
    // Starting a browser may take a while: never on the main thread.
    DispatchQueue::global(QualityOfService::UserInitiated).async([page = m_url.absoluteString()] {
        DesktopServices::shared()->openPage(page);
    });
    auto self = std::static_pointer_cast<SFSafariViewController>(shared_from_this());
    DispatchQueue::main().async([self] {
        if (self->presentingViewController())
            self->dismissViewControllerAnimated(true);
        if (auto delegate = self->delegate())
            delegate->safariViewControllerDidFinish(*self);
    });
}

}
