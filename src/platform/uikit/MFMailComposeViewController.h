#pragma once

#include "platform/foundation/NSError.h"
#include "platform/system/DesktopServices.h"
#include "platform/uikit/UIViewController.h"

#include <optional>

namespace vesk::platform {

class MFMailComposeViewController;

class MFMailComposeViewControllerDelegate {
public:
    virtual ~MFMailComposeViewControllerDelegate() = default;
    virtual void didFinishWithResult(MFMailComposeViewController&, MFMailComposeResult, const std::optional<NSError>&) { }
};

// The mail sheet. On appearing it hands its message to the desktop's mail program
// (DesktopServices) off the main thread, then tells its delegate the result from the main
// queue; the delegate dismisses it. Main thread only.
class MFMailComposeViewController : public UIViewController {
public:
    static bool canSendMail() { return DesktopServices::shared()->canSendMail(); }

    std::shared_ptr<MFMailComposeViewControllerDelegate> mailComposeDelegate() const { return m_delegate.lock(); }
    void setMailComposeDelegate(const std::shared_ptr<MFMailComposeViewControllerDelegate>& delegate) { m_delegate = delegate; }
    void setToRecipients(std::vector<std::string> recipients) { m_message.toRecipients = std::move(recipients); }
    void setSubject(std::string subject) { m_message.subject = std::move(subject); }
    void setMessageBody(std::string body, bool isHTML);
    const MailMessage& message() const { return m_message; }

    void viewDidAppear(bool animated) override;

private:
    std::weak_ptr<MFMailComposeViewControllerDelegate> m_delegate;
    MailMessage m_message;
    bool m_handedOver = false;
};

}
