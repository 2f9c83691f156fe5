#include "platform/uikit/MFMailComposeViewController.h"

#include "platform/foundation/Dispatch.h"

namespace vesk::platform {

void MFMailComposeViewController::setMessageBody(std::string body, bool isHTML)
{
    m_message.body = std::move(body);
    m_message.isHTML = isHTML;
}

void MFMailComposeViewController::viewDidAppear(bool animated)
{
    UIViewController::viewDidAppear(animated);
    if (m_handedOver)
        return;
    m_handedOver = true;
    auto self = std::static_pointer_cast<MFMailComposeViewController>(shared_from_this());
    DispatchQueue::global(QualityOfService::UserInitiated).async([self, message = m_message] {
        auto result = DesktopServices::shared()->composeMail(message);
        DispatchQueue::main().async([self, result] {
            if (auto delegate = self->mailComposeDelegate())
                delegate->didFinishWithResult(*self, result, std::nullopt);
        });
    });
}

}
