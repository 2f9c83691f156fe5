#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vesk::platform {

struct MailMessage {
    std::vector<std::string> toRecipients;
    std::string subject;
    std::string body;
    bool isHTML = false;
};

enum class MFMailComposeResult {
    Cancelled,
    Saved,
    Sent,
    Failed,
};

// What the phone's mail sheet and in-app browser stand for on Linux: the desktop's mail
// program (xdg-email) and web browser (xdg-open), there only when a desktop session is.
// Tests install a recorder in their place. Any thread; calls may block while a program starts.
class DesktopServices {
public:
    virtual ~DesktopServices() = default;

    // The installed services; the desktop's own until a test installs others.
    static std::shared_ptr<DesktopServices> shared();
    // Null puts the desktop's own back.
    static void setShared(std::shared_ptr<DesktopServices> services);

    virtual bool canSendMail();
    // The desktop mail program takes the message as a draft the person sends from there:
    // Saved when it took it, Failed otherwise.
    virtual MFMailComposeResult composeMail(const MailMessage& message);
    // Answers whether a browser took the page.
    virtual bool openPage(const std::string& url);
};

// Keeps what the app hands over and answers as the test sets it.
class DesktopRecorder : public DesktopServices {
public:
    bool canSendMail() override;
    MFMailComposeResult composeMail(const MailMessage& message) override;
    bool openPage(const std::string& url) override;

    void setCanSendMail(bool can);
    void setMailResult(MFMailComposeResult result);
    std::vector<MailMessage> mails() const;
    std::vector<std::string> pages() const;

private:
    mutable std::mutex m_mutex;
    bool m_canSendMail = true;
    MFMailComposeResult m_result = MFMailComposeResult::Sent;
    std::vector<MailMessage> m_mails;
    std::vector<std::string> m_pages;
};

}
