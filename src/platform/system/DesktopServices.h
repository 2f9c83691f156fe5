#pragma once

#include <functional>
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

// An application of the desktop (a desktop entry) that opens files of some type.
struct DesktopApplication {
    std::string id; // the desktop entry's name, "org.example.Viewer.desktop"
    std::string name;
};

// What the phone's mail sheet, in-app browser, open-in menu and local notifications stand for
// on Linux: the desktop's mail program (xdg-email) and web browser (xdg-open), there only when
// a desktop session is; the applications registered for a file's type; the notification
// service on the session bus. Programs started here get no standard output or error of the
// app's. Tests install a recorder in their place. Any thread; calls may block while a program
// starts.
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
    // The applications registered for the file's type, the desktop's default first.
    virtual std::vector<DesktopApplication> applicationsForFile(const std::string& path);
    // Starts the application with the file; answers whether it started.
    virtual bool openFileWithApplication(const std::string& applicationID, const std::string& path);
    // Shows the text in a desktop notification, with the action's label when there is one;
    // false without a session bus or a service.
    virtual bool postNotification(const std::string& text, bool withSound, const std::string& action);
    // What choosing a notification's action, or the notification itself, does; run on the main
    // queue. The desktop's own services hear of the choice on the session bus.
    static void setNotificationHandler(std::function<void()> handler);
};

// Keeps what the app hands over and answers as the test sets it.
class DesktopRecorder : public DesktopServices {
public:
    bool canSendMail() override;
    MFMailComposeResult composeMail(const MailMessage& message) override;
    bool openPage(const std::string& url) override;
    bool postNotification(const std::string& text, bool withSound, const std::string& action) override;

    void setCanSendMail(bool can);
    void setMailResult(MFMailComposeResult result);
    std::vector<MailMessage> mails() const;
    std::vector<std::string> pages() const;
    std::vector<std::string> notifications() const;

private:
    mutable std::mutex m_mutex;
    bool m_canSendMail = true;
    MFMailComposeResult m_result = MFMailComposeResult::Sent;
    std::vector<MailMessage> m_mails;
    std::vector<std::string> m_pages;
    std::vector<std::string> m_notifications;
};

}
