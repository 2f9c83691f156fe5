#pragma once

#include "platform/foundation/NSURL.h"
#include "platform/uikit/UIViewController.h"

namespace vesk::platform {

class SFSafariViewController;

class SFSafariViewControllerDelegate {
public:
    virtual ~SFSafariViewControllerDelegate() = default;
    virtual void safariViewControllerDidFinish(SFSafariViewController&) { }
};

// The in-app browser for outside pages. On Linux the page opens in the desktop's browser
// (DesktopServices) as this screen appears, and the screen closes itself at once, telling its
// delegate it finished. Main thread only.
class SFSafariViewController : public UIViewController {
public:
    SFSafariViewController(NSURL url, bool entersReaderIfAvailable);

    const NSURL& URL() const { return m_url; }
    bool entersReaderIfAvailable() const { return m_entersReader; }
    std::shared_ptr<SFSafariViewControllerDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(const std::shared_ptr<SFSafariViewControllerDelegate>& delegate) { m_delegate = delegate; }

    void viewDidAppear(bool animated) override;

private:
    NSURL m_url;
    bool m_entersReader;
    std::weak_ptr<SFSafariViewControllerDelegate> m_delegate;
    bool m_opened = false;
};

}
